// The offline registry simulator, run as the built program with the demo's data folder: every
// outcome it documents, and the built korvane importing through each of its endpoints.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "registry/IdSSLOpenSSL.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using Rows = std::vector<std::string>;

const std::string kData = std::string(KORVANE_SOURCE_DIR) + "/tools/demo/registry";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The simulator as a child process on an ephemeral port, stopped when the fixture ends.
class RegistrySimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }

  void Start(const std::vector<std::string>& options) {
    const std::string portFile = dir_.File("port");
    std::vector<std::string> arguments = {KORVANE_SIMULATOR, "--data", kData,           "--ca-out", caFile_,
                                          "--port-file",     portFile, "--wrong-token", "scaduto"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&pid_, KORVANE_SIMULATOR, nullptr, nullptr, argv.data(), environ), 0);
    // The simulator writes the port file (whole, by a rename) once it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port_.empty() && std::chrono::steady_clock::now() < deadline) {
      std::ifstream(portFile) >> port_;
      if (!port_.empty() || Ended()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(port_.empty()) << "the simulator did not start";
  }

  // True when the simulator has ended (it is then waited for).
  bool Ended() {
    if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
    pid_ = 0;
    return true;
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::string Url(const std::string& endpoint) const { return "https://localhost:" + port_ + endpoint; }

  // The whole answer to one GET of `target` with this bearer token (none when empty), read until the
  // simulator closes.
  std::string Get(const std::string& target, const std::string& token = "segreto") {
    setenv("SSL_CERT_FILE", caFile_.c_str(), 1);
    TIdSSLIOHandlerSocketOpenSSL channel;
    channel.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
    channel.Open("localhost", std::stoi(port_));
    channel.Write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" +
                  (token.empty() ? "" : "Authorization: Bearer " + token + "\r\n") + "\r\n");
    std::string answer;
    char buffer[4096];
    while (const std::size_t n = channel.Read(buffer, sizeof buffer)) answer.append(buffer, n);
    unsetenv("SSL_CERT_FILE");
    return answer;
  }

  testing::TempDir dir_;
  std::string caFile_ = dir_.File("ca.pem");
  std::string port_;
  pid_t pid_ = 0;
};

std::string Failure(const std::string& message, int error) {
  return R"({"success":false,"message":")" + message + R"(","error":)" + std::to_string(error) + R"(,"data":null})";
}

TEST_F(RegistrySimulatorTest, AnswersEveryDocumentedOutcome) {
  const std::string required = "Id, taxCode or vatCode required";
  const std::string credit = "Billing error message: Insufficient Credit in Wallet: ...";
  const std::string noCompany = "no company matches this id: ";
  const std::string notValid = "taxCode/vatCode/id not valid";
  struct Case {
    std::string target, status, body;
  };
  const Case cases[] = {
      {"/base/01234567890", "200 OK", ReadFile(kData + "/01234567890.json")},
      {"/IT-start/02345678901", "200 OK", ReadFile(kData + "/IT-start/02345678901.json")},
      {"/IT-advanced/03456789012", "200 OK", ReadFile(kData + "/IT-advanced/03456789012.json")},
      {"/IT-start/", "400 Bad Request", Failure(required, 300)},
      {"/IT-start/00000000400", "400 Bad Request", Failure(required, 300)},
      {"/IT-advanced/00000000402", "402 Payment Required", Failure(credit, 610)},
      {"/IT-start/01234567890", "404 Not Found", Failure(noCompany, 302)},  // a /base company only
      {"/IT-start/00000000406", "406 Not Acceptable", Failure(notValid, 301)},
      {"/IT-start/0123456789a", "406 Not Acceptable", Failure(notValid, 301)},
      {"/base/00000000400", "400 Bad Request", Failure(required, 200)},
      {"/base/00000000402", "402 Payment Required", Failure(credit, 202)},
      {"/base/02345678901", "404 Not Found", Failure(noCompany, 203)},
      {"/base/00000000406", "406 Not Acceptable", Failure(notValid, 201)},
      {"/it-start/02345678901", "404 Not Found", R"({"success":false,"message":"no such endpoint"})"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.body.empty()) << c.target;
    EXPECT_EQ(Get(c.target), "HTTP/1.1 " + c.status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                                 std::to_string(c.body.size()) + "\r\nConnection: close\r\n\r\n" + c.body)
        << c.target;
  }
  const std::string unauthorized = Get("/IT-start/02345678901", "");
  EXPECT_EQ(unauthorized.substr(0, unauthorized.find("\r\n")), "HTTP/1.1 401 Unauthorized");
  // A token it was told is wrong, as the registry answers a wrong or expired one.
  const std::string wrong = Get("/IT-start/02345678901", "scaduto");
  EXPECT_EQ(wrong.substr(0, wrong.find("\r\n")), "HTTP/1.1 401 Unauthorized");
  EXPECT_NE(wrong.find(R"({"success":false,"message":"invalid or expired token"})"), std::string::npos) << wrong;
}

// Outcomes of its own per number, and a credit that runs out: for rehearsing a list.
class RegistrySimulatorOutcomesTest : public RegistrySimulatorTest {
 protected:
  void SetUp() override {
    std::ofstream(dir_.File("outcomes")) << "# rehearsal\n"
                                            "02345678901 429 retry-after=3 times=2\n"
                                            "03456789012 503\n"
                                            "99999999999 402  # the wallet\n";
    Start({"--outcomes", dir_.File("outcomes"), "--credit", "2"});
  }

  static std::string Status(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }
};

TEST_F(RegistrySimulatorOutcomesTest, ForcedOutcomesThenTheUsualAnswerThenNoCredit) {
  const std::string limited = Get("/IT-start/02345678901");
  EXPECT_EQ(Status(limited), "HTTP/1.1 429 Too Many Requests");
  EXPECT_NE(limited.find("\r\nRetry-After: 3\r\n"), std::string::npos) << limited;
  EXPECT_EQ(Status(Get("/IT-start/02345678901")), "HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(Status(Get("/IT-start/02345678901")), "HTTP/1.1 200 OK");  // times=2 used up
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Status(Get("/IT-advanced/03456789012")), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(Get("/IT-start/99999999999").find("HTTP/1.1 402 Payment Required\r\n"), 0u);
  EXPECT_EQ(Status(Get("/base/01234567890")), "HTTP/1.1 200 OK");  // the second answer paid for
  EXPECT_EQ(Get("/base/01234567890"),
            "HTTP/1.1 402 Payment Required\r\nContent-Type: application/json\r\n"
            "Content-Length: 111\r\nConnection: close\r\n\r\n" +
                Failure("Billing error message: Insufficient Credit in Wallet: ...", 202));
}

TEST_F(RegistrySimulatorTest, KorvaneImportsThroughEachEndpoint) {
  testing::ProgramFolder folder(KORVANE_BINARY);
  struct Case {
    std::string endpoint, piva, out;
  };
  const Case cases[] = {
      {"/base/", "01234567890", "0124"},
      {"/IT-start/", "02345678901", "0125"},
      {"/IT-advanced/", "03456789012", "0126"},
      {"/IT-start/", "00000000400", "HTTP/1.1 400 Bad Request"},
      {"/IT-start/", "00000000402", "HTTP/1.1 402 Payment Required"},
      {"/IT-start/", "99999999999", "HTTP/1.1 404 Not Found"},
      {"/IT-start/", "00000000406", "HTTP/1.1 406 Not Acceptable"},
      {"/base/", "00000000402", "HTTP/1.1 402 Payment Required"},
  };
  for (const auto& c : cases) {
    const auto result = folder.Import(Url(c.endpoint), caFile_, c.piva);
    EXPECT_EQ(result.out, c.out + "\r\n") << c.endpoint << c.piva;
    EXPECT_EQ(result.exitCode, c.out.starts_with("01") ? 0 : 1) << c.endpoint << c.piva;
  }
  const auto refused = testing::RunProgram(
      folder.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "02345678901", "-APITOKEN", "scaduto"},
      {{"SSL_CERT_FILE", caFile_}, {"KORVANE_REGISTRY_URL", Url("/IT-start/")}});
  EXPECT_EQ(refused.out, "HTTP/1.1 401 Unauthorized\r\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(folder.Customer("0124"),
            Rows{"Torrefazione Caffè Nerò S.r.l.|01234567890|01234567890|Via Giuseppe Verdi|12|Milano|MI|20121|IT"});
  EXPECT_EQ(folder.Customer("0125"), Rows{"CANTINA SOCIALE DI VÒ SOCIETÀ COOPERATIVA AGRICOLA|02345678901|"
                                          "02345678901|VIA SAN PIETRO|21|VÒ|PD|35030|IT"});
  EXPECT_EQ(folder.Customer("0126"), Rows{"LABORATORIO ORAFO FIORENTINO S.R.L.|03456789012|03456789012|"
                                          "VIA DEI GONDI|4|FIRENZE|FI|50122|IT"});
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124", "0125", "0126"}));
}

}  // namespace
}  // namespace korvane
