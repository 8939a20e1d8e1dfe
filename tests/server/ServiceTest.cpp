// The service on 127.0.0.1 in this process, with a real importer behind it: the built korvane in a
// program folder with embedded databases (one import at a time opens them), the offline registry
// simulator.
#include "server/Service.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "platform/Exception.h"
#include "server/DesktopKeys.h"
#include "server/ImportRunner.h"
#include "support/DesktopClient.h"
#include "support/ProgramFolder.h"
#include "support/RegistrySimulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace korvane::server {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::DesktopRequest;
using testing::HttpAnswer;
using testing::ProgramFolder;
using testing::RegistrySimulator;

const std::vector<std::string> kImport = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"};

// A running service and what it logged.
class RunningService {
 public:
  explicit RunningService(Settings settings)
      : service_(std::move(settings), [this](const std::string& line) {
          const std::lock_guard lock(mutex_);
          lines_.push_back(line);
          logged_.notify_all();
        }) {
    port_ = service_.Bind();
    serving_ = std::thread([this] { service_.Serve(); });
  }
  ~RunningService() { Stop(); }

  void Stop() {
    service_.Stop();
    if (serving_.joinable()) serving_.join();
  }

  int Port() const { return port_; }
  Service& Get() { return service_; }

  // The log's lines so far, after waiting (within a bound) for there to be `count` of them.
  std::vector<std::string> Lines(std::size_t count) {
    std::unique_lock lock(mutex_);
    logged_.wait_for(lock, 60s, [&] { return lines_.size() >= count; });
    return lines_;
  }

  // Waits for the queue to reach the counts.
  bool WaitFor(std::size_t running, std::size_t waiting) {
    for (int i = 0; i < 6000; ++i) {
      const auto counts = service_.Queue();
      if (counts.running == running && counts.waiting == waiting) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

 private:
  Service service_;
  int port_ = 0;
  std::thread serving_;
  std::mutex mutex_;
  std::condition_variable logged_;
  std::vector<std::string> lines_;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& identity = testing::TestCertificates::Get().server;
    std::ofstream(dir_.File("server.crt")) << identity.certificatePem;
    std::ofstream(dir_.File("server.key")) << identity.keyPem;
    DesktopKeys keys;
    key_ = keys.Add("desk01", "2026-12-10T09:00:00Z");
    revokedKey_ = keys.Add("desk02", "2026-12-10T09:00:00Z");
    keys.Revoke("desk02", "2026-12-10T10:00:00Z");
    keys.Save(dir_.File("desktop-keys"));
    std::filesystem::create_directory(dir_.File("state"));
  }

  // The settings of a service in front of `folder`'s korvane asking `registry`.
  Settings ServiceSettings(const RegistrySimulator& registry) const {
    Settings settings;
    settings.address = "127.0.0.1";
    settings.port = 0;
    settings.certificate = dir_.File("server.crt");
    settings.privateKey = dir_.File("server.key");
    settings.keysFile = dir_.File("desktop-keys");
    settings.program = folder_.Program();
    settings.stateFolder = dir_.File("state");
    settings.importerEnvironment = ImporterEnvironmentFor(registry);
    return settings;
  }

  static std::vector<std::string> ImporterEnvironmentFor(const RegistrySimulator& registry) {
    return {"PATH=/usr/bin:/bin", "SSL_CERT_FILE=" + registry.CaFile(),
            "KORVANE_REGISTRY_URL=" + registry.Url("/base/"), "KORVANE_APITOKEN=segreto-del-server"};
  }

  HttpAnswer Import(int port, const std::vector<std::string>& arguments, const std::string& key = "desk01") {
    return testing::Send(
        port, testing::RequestBytes(testing::SignedImport(key, key == "desk02" ? revokedKey_ : key_, arguments)));
  }

  testing::TempDir dir_;
  ProgramFolder folder_{KORVANE_BINARY};
  std::string key_;
  std::string revokedKey_;
};

void ExpectImported(const HttpAnswer& answer, const std::string& output, int exitCode) {
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.headers.at("content-type"), "application/octet-stream");
  EXPECT_EQ(answer.headers.count("x-korvane-exit") ? answer.headers.at("x-korvane-exit") : "none",
            std::to_string(exitCode));
  EXPECT_EQ(answer.body, output);
}

void ExpectRefused(const HttpAnswer& answer, int status, const std::string& text) {
  EXPECT_EQ(answer.status, status) << text;
  EXPECT_EQ(answer.body, text);
  EXPECT_EQ(answer.headers.count("x-korvane-exit"), 0u) << text;
  EXPECT_EQ(answer.headers.count("content-type") ? answer.headers.at("content-type") : "", "text/plain; charset=utf-8")
      << text;
}

// The desktop gets the importer's exact bytes and exit code: those of the same run made directly.
TEST_F(ServiceTest, AnImportAnswersTheImportersOwnOutput) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  RunningService service(ServiceSettings(registry));

  ExpectImported(Import(service.Port(), kImport), "0124\r\n", 0);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));

  // A number the registry does not know, and the version: compared with direct runs.
  std::map<std::string, std::string> environment;
  for (const std::string& variable : ImporterEnvironmentFor(registry)) {
    environment[variable.substr(0, variable.find('='))] = variable.substr(variable.find('=') + 1);
  }
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"-UTENTE", "5", "-DITTA", "01", "-PIVA", "09999999999"},
        std::vector<std::string>{"--version"}, std::vector<std::string>{"-UTENTE", "5"}}) {
    const auto direct = testing::RunProgram(folder_.Program(), arguments, environment);
    ExpectImported(Import(service.Port(), arguments), direct.out, direct.exitCode);
  }

  const auto lines = service.Lines(4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find(" key=desk01 client=127.0.0.1 user=5 company=01 vat=01234567890 status=200 exit=0 ms="),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(" vat=09999999999 status=200 exit=1 "), std::string::npos) << lines[1];
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("segreto"), std::string::npos) << line;
    EXPECT_EQ(line.find(key_), std::string::npos) << line;
  }
  EXPECT_EQ(service.Get().ImportsStarted(), 4u);
}

// Whatever the service refuses never starts an import, and says so in one Italian line.
TEST_F(ServiceTest, RefusalsStartNothing) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  RunningService service(ServiceSettings(registry));
  const int port = service.Port();
  const auto signedBy = [&](const std::vector<std::string>& arguments, std::int64_t time = -1) {
    return testing::SignedImport("desk01", key_, arguments, time);
  };
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  DesktopRequest wrongSignature = signedBy(kImport);
  wrongSignature.body += std::string("-LINEA\0x\0", 9);
  DesktopRequest noKey = signedBy(kImport);
  noKey.headers.erase(noKey.headers.begin());
  DesktopRequest unknownKey = signedBy(kImport);
  unknownKey.headers[0].second = "desk09";
  const DesktopRequest replayed = signedBy({"--version"});
  ExpectImported(testing::Send(port, testing::RequestBytes(replayed)),
                 testing::RunProgram(folder_.Program(), {"--version"}).out, 0);
  const auto signedFor = [&](const std::string& target, const std::string& body) {
    DesktopRequest request = signedBy({});
    request.body = body;
    request.headers[3].second = testing::DesktopSignature(key_, "POST", target, request.headers[1].second,
                                                          request.headers[2].second, request.body);
    return request;
  };
  DesktopRequest twoLengths = signedBy(kImport);
  twoLengths.headers.emplace_back("Content-Length", std::to_string(twoLengths.body.size()));
  twoLengths.headers.emplace_back("Content-Length", std::to_string(twoLengths.body.size()));
  DesktopRequest twoKeys = signedBy(kImport);
  twoKeys.headers.emplace_back("X-Korvane-Key", "desk02");
  const std::string badKey = "Chiave del desktop non valida";

  struct Case {
    std::string name;
    std::string request;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {"-APITOKEN", testing::RequestBytes(signedBy({"-UTENTE", "5", "-DITTA", "01", "-PIVA", "1", "-apitoken", "x"})),
       400, "Richiesta non valida (-APITOKEN non ammesso: il token è quello del server)"},
      {"unknown switch", testing::RequestBytes(signedBy({"-UTENTE", "5", "-SQL", "x"})), 400,
       "Richiesta non valida (parametro non ammesso: -SQL)"},
      {"a body its signature does not cover",
       testing::RequestBytes("POST", "/v1/import", signedBy({}).headers, "-UTENTE"), 401, badKey},
      {"body without NUL", testing::RequestBytes(signedFor("/v1/import", "-UTENTE")), 400,
       "Richiesta non valida (argomento non terminato da NUL)"},
      {"an empty body", testing::RequestBytes(signedFor("/v1/import", "")), 400, "Richiesta non valida (corpo vuoto)"},
      {"two Content-Length", testing::RequestBytes(twoLengths), 400, "Richiesta non valida (Content-Length ripetuto)"},
      // Signed for the very target it names, and still another resource.
      {"a query",
       testing::RequestBytes("POST", "/v1/import?x=1", signedFor("/v1/import?x=1", "--version\0"s).headers,
                             "--version\0"s),
       404, "Risorsa inesistente"},
      {"percent-encoding",
       testing::RequestBytes("POST", "/v1/%69mport", signedFor("/v1/%69mport", "--version\0"s).headers, "--version\0"s),
       404, "Risorsa inesistente"},
      {"oversized", testing::RequestBytes(signedBy({"-LINEA", std::string(20000, 'x')})), 413,
       "Richiesta troppo grande"},
      {"chunked",
       "POST /v1/import HTTP/1.1\r\nHost: srv01\r\nTransfer-Encoding: chunked\r\n\r\n5000\r\n" +
           std::string(0x5000, 'x') + "\r\n0\r\n\r\n",
       400, "Richiesta non valida (Content-Length mancante)"},
      {"a length past any number",
       testing::RequestBytes("POST", "/v1/import", {{"Content-Length", "99999999999999999999999"}}, ""), 413,
       "Richiesta troppo grande"},
      {"no Content-Length", "POST /v1/import HTTP/1.1\r\nHost: srv01\r\n\r\n", 400,
       "Richiesta non valida (Content-Length mancante)"},
      {"wrong signature", testing::RequestBytes(wrongSignature), 401, badKey},
      {"old time", testing::RequestBytes(signedBy(kImport, now - 3600)), 401, badKey},
      {"replayed nonce", testing::RequestBytes(replayed), 401, badKey},
      {"revoked key", testing::RequestBytes(testing::SignedImport("desk02", revokedKey_, kImport)), 401, badKey},
      {"unknown key", testing::RequestBytes(unknownKey), 401, badKey},
      {"no key", testing::RequestBytes(noKey), 401, badKey},
      {"a key given twice", testing::RequestBytes(twoKeys), 401, badKey},
      {"another path", testing::RequestBytes("POST", "/v1/importa", signedBy(kImport).headers, ""), 404,
       "Risorsa inesistente"},
      {"another method", "GET /v1/import HTTP/1.1\r\nHost: srv01\r\n\r\n", 404, "Risorsa inesistente"},
      {"not HTTP", "HELLO\r\n\r\n", 400, "Richiesta non valida (richiesta HTTP malformata)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(testing::Send(port, c.request), c.status, c.text);
  }
  EXPECT_EQ(service.Get().ImportsStarted(), 1u);  // the --version above
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123"}));
  const auto lines = service.Lines(std::size(cases) + 1);
  EXPECT_EQ(lines.size(), std::size(cases) + 1);
  EXPECT_NE(lines.back().find(" status=400 exit=- "), std::string::npos) << lines.back();
}

// The nonces seen outlive the service: a copied request sent again after a restart runs nothing.
TEST_F(ServiceTest, AReplayAfterARestartIsRefused) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  const std::string request = testing::RequestBytes(testing::SignedImport("desk01", key_, kImport));
  {
    RunningService service(ServiceSettings(registry));
    ExpectImported(testing::Send(service.Port(), request), "0124\r\n", 0);
  }
  RunningService restarted(ServiceSettings(registry));
  ExpectRefused(testing::Send(restarted.Port(), request), 401, "Chiave del desktop non valida");
  EXPECT_EQ(restarted.Get().ImportsStarted(), 0u);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
  EXPECT_NE(restarted.Lines(1).at(0).find("note=\"nonce seen before\""), std::string::npos);
}

// Without its state folder the service does not start: it could not keep its nonces.
TEST_F(ServiceTest, NoStateFolderNoService) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  Settings settings = ServiceSettings(registry);
  settings.stateFolder = dir_.File("missing");
  EXPECT_THROW(Service service(std::move(settings), [](const std::string&) {}), Exception);
}

// A TCP connection to the service from `source` (any 127.0.0.x is this machine), or -1.
int ConnectFrom(const std::string& source, int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::bind(socket, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(socket, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(socket);
    return -1;
  }
  return socket;
}

// True once the service has closed the connection (within `wait`).
bool ClosedWithin(int socket, std::chrono::milliseconds wait) {
  pollfd poll{socket, POLLIN, 0};
  if (::poll(&poll, 1, static_cast<int>(wait.count())) <= 0) return false;
  char byte = 0;
  return ::recv(socket, &byte, 1, MSG_DONTWAIT) <= 0;
}

// The allowlist is checked as the connection's handshake starts: nothing of it is read.
TEST_F(ServiceTest, AnAddressNotAllowed) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  Settings settings = ServiceSettings(registry);
  settings.allowedClients = AddressList::Parse("10.0.0.0/8, ::1");
  RunningService service(std::move(settings));
  EXPECT_THROW(Import(service.Port(), kImport), std::runtime_error);
  EXPECT_EQ(service.Get().ImportsStarted(), 0u);
  EXPECT_NE(service.Lines(1).at(0).find(" key=- client=127.0.0.1 user=- company=- vat=- status=0 exit=- ms=0 "
                                        "note=\"connection dropped: address not allowed\""),
            std::string::npos)
      << service.Lines(1).at(0);
}

// Connections without a key are bounded before TLS: per address, in all, and in time however
// slowly they trickle; a signed request from an allowed desktop is served meanwhile.
TEST_F(ServiceTest, SlowConnectionsWithoutAKeyStopNoDesktop) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  Settings settings = ServiceSettings(registry);
  settings.allowedClients = AddressList::Parse("127.0.0.1, 127.0.0.2");
  settings.connections.perAddress = 4;
  settings.connections.total = 8;
  settings.connections.head = 2s;
  RunningService service(std::move(settings));
  const int port = service.Port();

  // A trickle from the desktop's own address: one byte of a ClientHello a while, never a whole head.
  const int trickle = ConnectFrom("127.0.0.1", port);
  std::vector<int> held;
  for (int i = 0; i < 60; ++i) held.push_back(ConnectFrom("127.0.0.2", port));
  for (int i = 0; i < 20; ++i) held.push_back(ConnectFrom("127.0.0." + std::to_string(3 + i % 10), port));
  std::atomic<bool> trickling{true};
  std::thread slow([&] {
    while (trickling && ::send(trickle, "\x16", 1, MSG_NOSIGNAL) == 1) std::this_thread::sleep_for(300ms);
  });

  const auto start = std::chrono::steady_clock::now();
  ExpectImported(Import(port, kImport), "0124\r\n", 0);
  // Generous: a normal import takes well under a second here, the head's deadline is 2 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);

  // Past the head's deadline every connection that sent no request has been closed.
  for (const int socket : held) {
    if (socket >= 0) {
      EXPECT_TRUE(ClosedWithin(socket, 15s));
    }
  }
  EXPECT_TRUE(ClosedWithin(trickle, 15s));
  trickling = false;
  slow.join();
  for (const int socket : held) ::close(socket);
  ::close(trickle);

  std::string log;
  for (const std::string& line : service.Lines(1)) log += line;
  EXPECT_NE(log.find("note=\"connection dropped: too many connections from this address"), std::string::npos) << log;
  EXPECT_NE(log.find("client=127.0.0.3 user=- company=- vat=- status=0 exit=- ms=0 note=\"connection dropped: address "
                     "not allowed\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("note=\"connection dropped: request not received in time\""), std::string::npos) << log;
  // Rate-limited: far fewer lines than connections dropped.
  EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 30) << log;
}

TEST_F(ServiceTest, TlsBelowOneDotTwoIsRefused) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"});
  RunningService service(ServiceSettings(registry));
  EXPECT_FALSE(testing::HandshakeWithMaxVersion(service.Port(), TLS1_1_VERSION));
  EXPECT_TRUE(testing::HandshakeWithMaxVersion(service.Port(), TLS1_2_VERSION));
}

// One running, one waiting in turn, the next one busy; the waiting one then runs.
TEST_F(ServiceTest, AtMostNImportsAndABoundedQueue) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890", "09876543210", "05555555555"}, 1500);
  Settings settings = ServiceSettings(registry);
  settings.maxRunning = 1;
  settings.queueLength = 1;
  RunningService service(std::move(settings));

  auto first = std::async(std::launch::async, [&] { return Import(service.Port(), kImport); });
  ASSERT_TRUE(service.WaitFor(1, 0));
  auto second = std::async(std::launch::async, [&] {
    return Import(service.Port(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "09876543210"});
  });
  ASSERT_TRUE(service.WaitFor(1, 1));
  ExpectRefused(Import(service.Port(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "05555555555"}), 503,
                "Servizio occupato (riprovare)");
  ExpectImported(first.get(), "0124\r\n", 0);
  ExpectImported(second.get(), "0125\r\n", 0);
  EXPECT_EQ(service.Get().ImportsStarted(), 2u);
}

TEST_F(ServiceTest, AWaitInTheQueueHasItsBound) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890", "09876543210"}, 3000);
  Settings settings = ServiceSettings(registry);
  settings.maxRunning = 1;
  settings.queueWait = 300ms;
  RunningService service(std::move(settings));
  auto first = std::async(std::launch::async, [&] { return Import(service.Port(), kImport); });
  ASSERT_TRUE(service.WaitFor(1, 0));
  ExpectRefused(Import(service.Port(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "09876543210"}), 503,
                "Servizio occupato (riprovare)");
  ExpectImported(first.get(), "0124\r\n", 0);
}

// A desktop that goes away does not stop its import (it may already have been paid for); the
// outcome is still logged.
TEST_F(ServiceTest, ADesktopThatDisconnects) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"}, 1000);
  RunningService service(ServiceSettings(registry));
  testing::SendAndHangUp(service.Port(), testing::RequestBytes(testing::SignedImport("desk01", key_, kImport)));
  const auto lines = service.Lines(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" vat=01234567890 status=200 exit=0 "), std::string::npos) << lines[0];
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

// An importer past the service's limit: its process group is killed, and the desktop is told that
// the outcome is not known (the row may be there), not that nothing ran.
TEST_F(ServiceTest, AnImportPastTheLimit) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"}, 8000);
  Settings settings = ServiceSettings(registry);
  settings.importLimit = 1s;
  RunningService service(std::move(settings));
  ExpectImported(Import(service.Port(), kImport), OverTimeMessage(1s), 1);
  EXPECT_NE(service.Lines(1).at(0).find(" status=200 exit=1 ms="), std::string::npos);
  EXPECT_NE(service.Lines(1).at(0).find("note=\"killed at the service's limit\""), std::string::npos);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123"}));
}

// Stopping: no new connection, the running import ends and is answered, then Serve returns.
TEST_F(ServiceTest, AStopLetsTheRunningImportEnd) {
  RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"}, 1500);
  RunningService service(ServiceSettings(registry));
  auto running = std::async(std::launch::async, [&] { return Import(service.Port(), kImport); });
  ASSERT_TRUE(service.WaitFor(1, 0));
  service.Stop();
  ExpectImported(running.get(), "0124\r\n", 0);
  EXPECT_THROW(testing::Send(service.Port(), "GET / HTTP/1.1\r\n\r\n"), std::runtime_error);
}

}  // namespace
}  // namespace korvane::server
