// The VAT number, the token and the registry address go onto the request's lines: a control
// character in any of them is refused before any database or network work.
#include <gtest/gtest.h>

#include "app/Parametri.h"
#include "support/ErrorOf.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

std::string CheckMessage(const std::string& piva, const std::string& token) {
  TParametri parametri({"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", token});
  return testing::ErrorOf([&] {
    parametri.ReadFromCmdLine();
    parametri.Check();
  });
}

TEST(InputCheck, ControlCharactersInTheVatNumberOrTheTokenAreRefused) {
  const std::string piva = "P.IVA non riconosciuta (parametro PIVA)";
  const std::string token = "Api Token non riconosciuto (parametro APITOKEN)";
  struct Case {
    std::string piva, token, message;
  };
  const Case cases[] = {
      {"0123\r\nHost: x\r\n\r\nGET /y", "t", piva},
      {"0123\n", "t", piva},
      {std::string("01\0" "23", 5), "t", piva},
      {"01\x1F", "t", piva},
      {"01\x7F", "t", piva},
      {"01\x01", "T\r\nX-Injected: yes", piva},  // the VAT number is checked first
      {"01", "T\r\nX-Injected: yes", token},
      {"01", "\tT", token},
      {"01", "T\x7F", token},
      // Blanks and letters beyond ASCII are no control characters.
      {"01 23", "Tok en", ""},
      {"01\xC2\x85", "T\xC3\xA0", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckMessage(c.piva, c.token), c.message) << c.piva << " / " << c.token;
}

// End to end, from a program folder without a users database: the message shows that the run
// stopped before any database work, and nothing reaches the registry.
TEST(InputCheck, NothingInjectedReachesTheRegistry) {
  struct Case {
    std::string piva, token, path, out;
  };
  const Case cases[] = {
      {"0123\r\nHost: x\r\n\r\nGET /y", "t", "/base/", "P.IVA non riconosciuta (parametro PIVA)\r\n"},
      {"0123", "T\r\nX-Injected: yes", "/base/", "Api Token non riconosciuto (parametro APITOKEN)\r\n"},
      {"0123", "t", "/base/\r\nX-Injected: yes\r\n/", "Indirizzo del registro non valido (KORVANE_REGISTRY_URL)\r\n"},
      {"0123", "t", "/ba se/", "Indirizzo del registro non valido (KORVANE_REGISTRY_URL)\r\n"},
  };
  for (const auto& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
    const auto result = testing::RunProgram(
        KORVANE_BINARY, {"-UTENTE", "5", "-DITTA", "01", "-PIVA", c.piva, "-APITOKEN", c.token},
        {{"KORVANE_REGISTRY_URL", registry.Url(c.path)}});
    registry.Stop();
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(registry.HandshakeCompleted()) << c.out;
    EXPECT_FALSE(registry.Connected()) << c.out;
  }
}

}  // namespace
}  // namespace korvane
