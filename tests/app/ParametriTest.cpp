#include "app/inputs/Parametri.h"

#include <gtest/gtest.h>

#include "support/ErrorOf.h"

namespace korvane {
namespace {

// Reads and checks a command line; returns the message of the first error, or "" when both pass.
std::string ReadAndCheck(const std::vector<std::string>& arguments, TParametri* out = nullptr) {
  TParametri parametri(arguments);
  const std::string error = testing::ErrorOf([&] {
    parametri.ReadFromCmdLine();
    parametri.Check();
  });
  if (error.empty() && out) *out = parametri;
  return error;
}

const std::vector<std::string> kComplete = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890", "-APITOKEN", "tok"};

std::vector<std::string> With(std::vector<std::string> base, const std::vector<std::string>& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

TEST(TParametri, MessagesForBadCommandLines) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{}, "Nessun parametro specificato"},
      {{"-UTENTE"}, "Parametri incompleti"},
      {{"anything"}, "Parametri incompleti"},
      {{"-UTENTE", "5"}, "Ditta non riconosciuta (parametro DITTA)"},
      {{"-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"}, "Utente non riconosciuto (parametro UTENTE)"},
      {With(kComplete, {"-PIVA", "2"}), "Duplicates not allowed"},
      {With(kComplete, {"-LINEA", "a", "-linea", "b"}), "Duplicates not allowed"},
      {With(kComplete, {"-TIPOSOGGETTO", "c"}), "TipoSoggetto non riconosciuto (parametro TIPOSOGGETTO)"},
      {With(kComplete, {"-TIPOSOGGETTO", " C"}), "TipoSoggetto non riconosciuto (parametro TIPOSOGGETTO)"},
      {With(kComplete, {"-TIPOSOGGETTO", "Cliente"}), "TipoSoggetto non riconosciuto (parametro TIPOSOGGETTO)"},
      {{"-UTENTE", "abc", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"},
       "Utente non riconosciuto (parametro UTENTE)"},
      {{"-UTENTE", "0", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"}, "Utente non riconosciuto (parametro UTENTE)"},
      {{"-UTENTE", "12x", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"},
       "Utente non riconosciuto (parametro UTENTE)"},
      {{"-UTENTE", "2147483648", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"},
       "Utente non riconosciuto (parametro UTENTE)"},
      {{"-UTENTE", "5", "-DITTA", "-PIVA", "1", "-APITOKEN", "t"}, "Ditta non riconosciuta (parametro DITTA)"},
      {{"-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "t"}, "P.IVA non riconosciuta (parametro PIVA)"},
      {{"-UTENTE", "5", "-DITTA", "01", "-PIVA", "1", "-APITOKEN"}, "Api Token non riconosciuto (parametro APITOKEN)"},
      // Not switches: wrong dashes, a glued value, a slash.
      {{"--UTENTE", "5", "-UTENTE=5", "x", "/UTENTE", "5", "-", "x"}, "Utente non riconosciuto (parametro UTENTE)"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.arguments) line += a + " ";
    EXPECT_EQ(ReadAndCheck(c.arguments), c.message) << line;
  }
}

TEST(TParametri, ReadsSwitchesInAnyCaseAndValuesAsWritten) {
  TParametri p({});
  ASSERT_EQ(ReadAndCheck({"-utente", "5", "-ditta", "01", "-piva", "01234567890", "-apitoken", "Tok en"}, &p), "");
  EXPECT_EQ(p.Utente(), 5);
  EXPECT_EQ(p.Ditta(), "01");
  EXPECT_EQ(p.PIVA().Cleaned(), "01234567890");
  EXPECT_EQ(p.ApiToken(), "Tok en");
  EXPECT_EQ(p.TipoSoggetto(), TTipoSoggetto::tsCliente);
  EXPECT_EQ(p.CodiceSoggetto(), "");
  EXPECT_EQ(p.Linea(), "");
}

TEST(TParametri, EdgeCasesOfValuesAndPositions) {
  TParametri p({});
  // A value that differs from a switch only in case is a value, then examined as a switch itself.
  ASSERT_EQ(ReadAndCheck({"-UTENTE", "-5", "-DITTA", "-piva", "-PIVA", "01234567890", "-APITOKEN", "t", "-TIPOSOGGETTO",
                          "F", "-CODICESOGGETTO", "C77", "-LINEA", "x", "-PIVA", "-DITTA"},
                         &p),
            "");
  EXPECT_EQ(p.Utente(), -5);
  EXPECT_EQ(p.Ditta(), "-piva");
  EXPECT_EQ(p.PIVA().Cleaned(), "01234567890");  // the second -PIVA is followed by a switch: ignored
  EXPECT_EQ(p.TipoSoggetto(), TTipoSoggetto::tsFornitore);
  EXPECT_EQ(p.CodiceSoggetto(), "C77");
  EXPECT_EQ(p.Linea(), "x");

  ASSERT_EQ(ReadAndCheck(With(kComplete, {"-UTENTE_X", "1"}), &p), "");
  ASSERT_EQ(ReadAndCheck({"-UTENTE", "$1F", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t"}, &p), "");
  EXPECT_EQ(p.Utente(), 31);
}

}  // namespace
}  // namespace korvane
