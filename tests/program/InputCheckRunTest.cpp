// The VAT number, the token and the registry address as runs of the built program meet them: a
// control character in any of them stops the run before any database or network work, and a
// VAT number of letters and digits goes out as it was written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

// End to end, from a program folder without a users database: the message shows that the run
// stopped before any database work, and nothing reaches the registry.
TEST(InputCheck, NothingInjectedReachesTheRegistry) {
  struct Case {
    std::string piva, token, path, out;
  };
  const Case cases[] = {
      {"0123\r\nHost: x\r\n\r\nGET /y", "t", "/base/", "P.IVA non riconosciuta (parametro PIVA)\r\n"},
      {"098 7654/3210", "t", "/base/", "P.IVA non riconosciuta (parametro PIVA)\r\n"},  // blanks go, "/" stays
      {"09876543210/../x?y", "t", "/base/", "P.IVA non riconosciuta (parametro PIVA)\r\n"},
      {"0987654321\xC3\xA0", "t", "/base/", "P.IVA non riconosciuta (parametro PIVA)\r\n"},
      {"0123", "T\r\nX-Injected: yes", "/base/", "Api Token non riconosciuto (parametro APITOKEN)\r\n"},
      {"0123", "t", "/base/\r\nX-Injected: yes\r\n/", "Indirizzo del registro non valido (KORVANE_REGISTRY_URL)\r\n"},
      {"0123", "t", "/ba se/", "Indirizzo del registro non valido (KORVANE_REGISTRY_URL)\r\n"},
  };
  for (const auto& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
    const auto result =
        testing::RunProgram(KORVANE_BINARY, {"-UTENTE", "5", "-DITTA", "01", "-PIVA", c.piva, "-APITOKEN", c.token},
                            {{"KORVANE_REGISTRY_URL", registry.Url(c.path)}});
    registry.Stop();
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(registry.HandshakeCompleted()) << c.out;
    EXPECT_FALSE(registry.Connected()) << c.out;
  }
}

// A VAT number of letters and digits goes out as it was written, the country prefix too; one that
// the check refuses opens no database (the trace shows no step of one).
TEST(InputCheck, AVatNumberOfLettersAndDigitsGoesOutAsWritten) {
  testing::ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir dir;
  const std::string trace = dir.File("trace");
  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  auto environment = folder.Environment(registry);
  const auto result = testing::RunProgram(
      folder.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "IT01234567890", "-APITOKEN", "segreto"},
      environment);
  EXPECT_EQ(result.out, "0124\r\n");
  EXPECT_TRUE(registry.Request().starts_with("GET /base/IT01234567890 HTTP/1.1\r\n")) << registry.Request();

  TlsTestServer unused({TlsTestServer::ExpectRequest()});
  environment = folder.Environment(unused);
  environment["KORVANE_TRACE"] = trace;
  const auto refused = testing::RunProgram(
      folder.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890/../x", "-APITOKEN", "segreto"},
      environment);
  unused.Stop();
  EXPECT_EQ(refused.out, "P.IVA non riconosciuta (parametro PIVA)\r\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_FALSE(unused.Connected());
  std::ifstream file(trace);
  const std::string steps{std::istreambuf_iterator<char>(file), {}};
  EXPECT_NE(steps.find("line printed: P.IVA non riconosciuta"), std::string::npos) << steps;
  EXPECT_EQ(steps.find("opening"), std::string::npos) << steps;
  EXPECT_EQ(steps.find("attaching"), std::string::npos) << steps;
  EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

}  // namespace
}  // namespace korvane
