#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "ChannelGet.h"
#include "certificates/OpenSslHandles.h"
#include "registry/PreparedChannel.h"
#include "registry/RegistryEndpoint.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TimeMargin.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TestCertificates;
using testing::TlsTestServer;

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
 public:
  void Set(const char* name, const std::string& value) {
    Remember(name);
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  void Remember(const char* name) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A certificate folder laid out as the library looks it up: each certificate in a file named
// by the hash of its subject.
void WriteHashedFolder(const std::filesystem::path& folder, const std::vector<std::string>& pems) {
  std::filesystem::create_directories(folder);
  for (const std::string& pem : pems) {
    const certificates::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    const certificates::CertificatePtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    ASSERT_NE(cert, nullptr);
    char name[16];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert.get()));
    std::ofstream(folder / name, std::ios::binary) << pem;
  }
}

// Tells whether a file has been opened since the watch began.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : handle_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(handle_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() { ::close(handle_); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool Opened() const {
    char events[4096];
    return ::read(handle_, events, sizeof events) > 0;
  }

 private:
  int handle_;
};

TEST(TrustStore, DirectoryFirstAndTheFileOnlyWhenNoIssuerIsFound) {
  const TestCertificates& certificates = TestCertificates::Get();
  enum class File { Missing, TestCa };
  struct Case {
    const char* name;
    TlsTestServer::Certificate server;
    std::vector<std::string> folder;
    File file;
    bool verified;
    bool fileRead;
  };
  const Case cases[] = {
      {"CA in the folder only", TlsTestServer::Certificate::Trusted, {certificates.caPem}, File::Missing, true, false},
      {"CA in both: the file stays unread",
       TlsTestServer::Certificate::Trusted,
       {certificates.caPem},
       File::TestCa,
       true,
       false},
      {"CA in the file, other certificates in the folder",
       TlsTestServer::Certificate::Trusted,
       {certificates.untrustedCaPem},
       File::TestCa,
       true,
       true},
      {"intermediate sent by the server, root in the folder",
       TlsTestServer::Certificate::ViaIntermediate,
       {certificates.caPem},
       File::TestCa,
       true,
       false},
      {"intermediate sent by the server, root in the file",
       TlsTestServer::Certificate::ViaIntermediate,
       {},
       File::TestCa,
       true,
       true},
      {"untrusted CA is refused after both were asked",
       TlsTestServer::Certificate::UntrustedCa,
       {certificates.caPem},
       File::TestCa,
       false,
       true},
  };
  for (const Case& c : cases) {
    testing::TempDir work;
    WriteHashedFolder(work.Path() / "certs", c.folder);
    const std::string file = work.File("bundle.pem");
    if (c.file == File::TestCa) certificates.WriteCaPem(file);
    ScopedEnvironment environment;
    environment.Set("SSL_CERT_DIR", (work.Path() / "certs").string());
    environment.Set("SSL_CERT_FILE", file);
    const std::optional<OpenWatch> watch = c.file == File::Missing ? std::nullopt : std::make_optional<OpenWatch>(file);

    TlsTestServer::Options options;
    options.certificate = c.server;
    TlsTestServer server(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"),
         TlsTestServer::Close()},
        options);
    const std::string outcome = testing::GetThroughChannel(server.Url("/base/1"));
    if (c.verified) {
      EXPECT_EQ(outcome, "{}") << c.name;
    } else {
      EXPECT_EQ(outcome.rfind("error: Error connecting with SSL.\r\n", 0), 0u) << c.name << ": " << outcome;
      EXPECT_NE(outcome.find("certificate verify failed"), std::string::npos) << c.name << ": " << outcome;
    }
    if (watch) {
      EXPECT_EQ(watch->Opened(), c.fileRead) << c.name;
    }
  }
}

// Trust-store paths that are no regular file or folder are refused before the library opens them
// (a FIFO would hold the opening for ever), and before any connection is made.
TEST(TrustStore, SpecialFilesAndFoldersAreRefusedBeforeTheLibraryOpensThem) {
  testing::TempDir work;
  const std::string fifo = work.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = work.File("certs");
  std::filesystem::create_directories(folder);
  const std::string caFile = work.File("ca.pem");
  TestCertificates::Get().WriteCaPem(caFile);
  struct Case {
    std::string file, folders, refusal;
  };
  const Case cases[] = {
      {fifo, folder, "SSL_CERT_FILE " + fifo + " is not a regular file"},
      {folder, folder, "SSL_CERT_FILE " + folder + " is not a regular file"},
      {"/dev/zero", folder, "SSL_CERT_FILE /dev/zero is not a regular file"},
      {caFile, fifo, "SSL_CERT_DIR " + fifo + " is not a folder"},
      {caFile, folder + ":" + work.File("missing") + ":" + caFile, "SSL_CERT_DIR " + caFile + " is not a folder"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment environment;
    environment.Set("SSL_CERT_FILE", c.file);
    environment.Set("SSL_CERT_DIR", c.folders);
    TlsTestServer server({TlsTestServer::ExpectRequest()});
    EXPECT_EQ(testing::GetThroughChannel(server.Url("/base/1")), "error: Error connecting with SSL.\r\n" + c.refusal);
    server.Stop();
    EXPECT_FALSE(server.Connected()) << c.refusal;
  }
  // Missing ones are no refusal: the library finds nothing there.
  ScopedEnvironment environment;
  environment.Set("SSL_CERT_FILE", caFile);
  environment.Set("SSL_CERT_DIR", work.File("missing"));
  TlsTestServer server({TlsTestServer::ExpectRequest(),
                        TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"), TlsTestServer::Close()});
  EXPECT_EQ(testing::GetThroughChannel(server.Url("/base/1")), "{}");
}

// The threads of this process.
std::size_t ThreadCount() {
  const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<std::size_t>(std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks)));
}

// A certificate file in the folder that never opens (a FIFO under an issuer's hash name) holds
// the prepared channel's thread; the request still ends at the exchange's time, and giving the
// channel up then does not wait for that thread.
TEST(TrustStore, AFileThatNeverOpensHoldsTheRequestOnlyUntilTheExchangeEnds) {
  const TestCertificates& certificates = TestCertificates::Get();
  testing::TempDir work;
  WriteHashedFolder(work.Path() / "certs", {certificates.caPem});
  const std::filesystem::path hashed = std::filesystem::directory_iterator(work.Path() / "certs")->path();
  std::filesystem::remove(hashed);
  ASSERT_EQ(mkfifo(hashed.c_str(), 0600), 0);
  ScopedEnvironment environment;
  environment.Set("SSL_CERT_DIR", (work.Path() / "certs").string());
  environment.Set("SSL_CERT_FILE", work.File("missing.pem"));

  const std::size_t threadsBefore = ThreadCount();
  TlsTestServer server({TlsTestServer::ExpectRequest()}, {.lifetimeMs = 5000});
  TIdSSLIOHandlerSocketOpenSSL shortLimits;
  shortLimits.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
  shortLimits.settings.exchangeLimitMs = 1000;
  auto prepared = registry::PreparedChannel::Start(*registry::ChannelTargetOf(server.Url()), shortLimits.settings);
  ASSERT_NE(prepared, nullptr);
  const auto start = std::chrono::steady_clock::now();
  const std::string outcome =
      testing::GetThroughChannel(server.Url("/base/1"), [&](TIdSSLIOHandlerSocketOpenSSL& handler) {
        handler.settings.exchangeLimitMs = 1000;
        handler.prepared = prepared.get();
      });
  prepared.reset();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(outcome, "error: Read timed out.");
  // The exchange's 1 s ends it; the held thread would hold it until the FIFO opens, below.
  EXPECT_LT(waited, std::chrono::milliseconds(1000) + testing::kLoadedMachineMargin);
  server.Stop();
  // Lets the held thread go: its file opens and reads as empty, and an ordinary empty file takes
  // its place for the library's later looks. The thread then runs on inside the TLS library, so
  // the test waits for it to end rather than leave it to the process's exit.
  const int writer = ::open(hashed.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  std::ofstream(work.File("empty")).flush();
  std::filesystem::rename(work.File("empty"), hashed);
  ::close(writer);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ThreadCount() > threadsBefore && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace korvane
