// The VAT number, the token and the registry address go onto the request's lines: a control
// character in any of them is refused before any database or network work.
#include <gtest/gtest.h>

#include "app/inputs/Parametri.h"
#include "support/ErrorOf.h"

namespace korvane {
namespace {

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
      {"0123\n", "t", ""},  // a line end at the end is how a queue's line ends: it goes
      {"0123\n\r0", "t", piva},
      {std::string("01\0"
                   "23",
                   5),
       "t", piva},
      {"01\x1F", "t", piva},
      {"01\x7F", "t", piva},
      {"01\x01", "T\r\nX-Injected: yes", piva},  // the VAT number is checked first
      {"01", "T\r\nX-Injected: yes", token},
      {"01", "\tT", token},
      {"01", "T\x7F", token},
      // In the token, blanks and letters beyond ASCII are no control characters.
      {"0123", "Tok en", ""},
      {"0123", "T\xC2\x85\xC3\xA0", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckMessage(c.piva, c.token), c.message) << c.piva << " / " << c.token;
}

// The VAT number is the last segment of the request's path: only letters and digits may go
// there, so that it can neither break the request line nor ask for another resource. The
// separators people type go first.
TEST(InputCheck, TheVatNumberIsAsciiLettersAndDigits) {
  const std::string refused = "P.IVA non riconosciuta (parametro PIVA)";
  const std::string refusedForms[] = {"0123/4567",     "09876543210/../x?y",
                                      "01/23",         "01\\23",
                                      "01?23",         "01#23",
                                      "01%2F23",       "01+23",
                                      "01_23",         "01:23",
                                      "01;23",         "01@23",
                                      "01&23",         "01=23",
                                      "01'23",         "01\"23",
                                      "\xC3\x8FT0123", "0123\xC3\xA0",
                                      "0123\xC2\x85",  "0123\xEF\xBC\x90" /* a full-width digit */,
                                      "01\x7F"};
  for (const std::string& piva : refusedForms) EXPECT_EQ(CheckMessage(piva, "t"), refused) << piva;
  // Blanks, dots, dashes and a final line end are taken out first, as people type a number.
  for (const char* piva : {"01234567890", "IT01234567890", "it01234567890", "0", "ABCxyz019", "098 7654 3210",
                           " 01234567890", "01234567890 ", "IT 0123.4567-890", "01\t23", "0123\r\n"}) {
    EXPECT_EQ(CheckMessage(piva, "t"), "") << piva;
  }
}

}  // namespace
}  // namespace korvane
