// The company's import settings in TABX, as runs of the built program meet them: refusals known
// before the registry call never reach it, a ceased company is refused after it, and every
// refusal leaves the archive as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;
using Rows = std::vector<std::string>;

std::string Setting(const std::string& name, const std::string& value) {
  return "INSERT INTO TABX VALUES ('" + name + "', '" + value + "', NULL);\n";
}

std::string Subject(const std::string& table, const std::string& codice, const std::string& pi) {
  return "INSERT INTO " + table + " (CODICE, PI) VALUES ('" + codice + "', '" + pi + "');\n";
}

std::string AnswerWithStatus(const std::string& status) {
  return testing::JsonAnswer(R"({"success":true,"data":{"denominazione":"Rossi S.r.l.","cf":"01234567890",)"
                             R"("indirizzo":"Via Roma 12","civico":"12","comune":"Milano","provincia":"MI",)"
                             R"("cap":"20121","stato_attivita":)" +
                             status + "}}");
}

class CompanySettingsRunTest : public ::testing::Test {
 protected:
  // Sets the archive up with `sql` (after removing every setting and every subject but 0123),
  // runs the program with `extra` switches and returns its line and exit code as one text.
  std::string Run(const std::string& sql, std::vector<std::string> extra, TlsTestServer& registry) {
    testing::RunIsql(folder_.Archive(),
                     "DELETE FROM TABX;\nDELETE FROM CLIENTI WHERE CODICE <> '0123';\n"
                     "DELETE FROM FORNITO;\n" +
                         sql);
    // The usual switches, with -PIVA replaced when `extra` gives one.
    std::string piva = "01234567890";
    if (const auto given = std::ranges::find(extra, "-PIVA"); given != extra.end()) {
      piva = given[1];
      extra.erase(given, given + 2);
    }
    std::vector<std::string> arguments = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const testing::ProgramResult result =
        testing::RunProgram(folder_.Program(), arguments, folder_.Environment(registry));
    EXPECT_EQ(result.err, "");
    return result.out + "exit " + std::to_string(result.exitCode);
  }

  Rows Subjects() {
    return testing::QueryColumn(folder_.Archive(),
                                "SELECT 'C ' || CODICE FROM CLIENTI UNION ALL "
                                "SELECT 'F ' || CODICE FROM FORNITO ORDER BY 1");
  }

  testing::ProgramFolder folder_{KORVANE_BINARY};
};

TEST_F(CompanySettingsRunTest, RefusalsAndReusesBeforeTheCall) {
  const std::string holders = Subject("CLIENTI", "B7", "01234567890") + Subject("CLIENTI", "A9", "IT 0123.4567-890") +
                              Subject("FORNITO", "000007", "01234567890");
  struct Case {
    std::string name, sql;
    std::vector<std::string> extra;
    std::string out;
  };
  const Case cases[] = {
      {"reuse", Setting("PartitaIvaPresenteClienti", "Riusa") + holders, {}, "A9\r\nexit 0"},
      {"reuse wins over a given code",
       Setting("PartitaIvaPresenteClienti", " riusa") + holders,
       {"-CODICESOGGETTO", "C77"},
       "A9\r\nexit 0"},
      {"refuse",
       Setting("PartitaIvaPresenteClienti", "Rifiuta") + holders,
       {},
       "P.IVA 01234567890 presente in archivio (codice A9)\r\nexit 1"},
      {"refuse names the number as given",
       Setting("PartitaIvaPresenteClienti", "RIFIUTA") + holders,
       {"-PIVA", "it01234567890"},
       "P.IVA it01234567890 presente in archivio (codice A9)\r\nexit 1"},
      {"supplier",
       Setting("PartitaIvaPresenteFornitori", "Rifiuta") + holders,
       {"-TIPOSOGGETTO", "F"},
       "P.IVA 01234567890 presente in archivio (codice 000007)\r\nexit 1"},
      {"supplier reuse",
       Setting("PartitaIvaPresenteFornitori", "Riusa") + holders,
       {"-TIPOSOGGETTO", "F"},
       "000007\r\nexit 0"},
      {"bad value",
       Setting("PartitaIvaPresenteClienti", " Forse ") + holders,
       {},
       "Impostazione non valida (PartitaIvaPresenteClienti = Forse)\r\nexit 1"},
      {"bad value of a setting used after the call",
       Setting("ImpresaCessataClienti", "Si"),
       {},
       "Impostazione non valida (ImpresaCessataClienti = Si)\r\nexit 1"},
      {"bad check value",
       Setting("ControlloPartitaIva", "Rifiuta"),
       {},
       "Impostazione non valida (ControlloPartitaIva = Rifiuta)\r\nexit 1"},
      {"check digits", Setting("ControlloPartitaIva", "Si"), {}, "P.IVA 01234567890 non valida\r\nexit 1"},
      {"check digits before the archive's holders",
       Setting("ControlloPartitaIva", "Si") + Setting("PartitaIvaPresenteClienti", "Riusa") + holders,
       {},
       "P.IVA 01234567890 non valida\r\nexit 1"},
      {"check digits see the number as given",
       Setting("ControlloPartitaIva", "si"),
       {"-PIVA", "IT12485671007"},
       "P.IVA IT12485671007 non valida\r\nexit 1"},
      // the checks that exist come first
      {"a bad width first",
       Setting("CaratteriRiempimentoClienti", "-1") + Setting("ControlloPartitaIva", "x"),
       {},
       "Larghezza codice soggetto non valida (CaratteriRiempimentoClienti = -1)\r\nexit 1"},
  };
  for (const Case& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(AnswerWithStatus("\"ATTIVA\""))});
    EXPECT_EQ(Run(c.sql, c.extra, registry), c.out) << c.name;
    registry.Stop();
    EXPECT_EQ(registry.Request(), "") << c.name << ": the registry was asked";
    const Rows before =
        c.sql.find("B7") != std::string::npos ? Rows{"C 0123", "C A9", "C B7", "F 000007"} : Rows{"C 0123"};
    EXPECT_EQ(Subjects(), before) << c.name;
  }
}

TEST_F(CompanySettingsRunTest, AfterTheCall) {
  const std::string holder = Subject("CLIENTI", "A9", "01234567890");
  struct Case {
    std::string name, sql, status;
    std::vector<std::string> extra;
    std::string out;
  };
  const Case cases[] = {
      {"ceased",
       Setting("ImpresaCessataClienti", "Rifiuta"),
       "\" Cessata \"",
       {},
       "Impresa cessata (P.IVA 01234567890)\r\nexit 1"},
      {"ceased supplier",
       Setting("ImpresaCessataFornitori", "rifiuta"),
       "\"CESSATA\"",
       {"-TIPOSOGGETTO", "F"},
       "Impresa cessata (P.IVA 01234567890)\r\nexit 1"},
      {"ceased, but the setting is the supplier's",
       Setting("ImpresaCessataFornitori", "Rifiuta"),
       "\"CESSATA\"",
       {},
       "0124\r\nexit 0"},
      {"ceased, no setting", "", "\"CESSATA\"", {}, "0124\r\nexit 0"},
      {"active", Setting("ImpresaCessataClienti", "Rifiuta"), "\"ATTIVA\"", {}, "0124\r\nexit 0"},
      {"suspended", Setting("ImpresaCessataClienti", "Rifiuta"), "\"SOSPESA\"", {}, "0124\r\nexit 0"},
      {"no status", Setting("ImpresaCessataClienti", "Rifiuta"), "null", {}, "0124\r\nexit 0"},
      {"valid check digits",
       Setting("ControlloPartitaIva", "Si"),
       "\"ATTIVA\"",
       {"-PIVA", "12485671007"},
       "0124\r\nexit 0"},
      {"no holder yet", Setting("PartitaIvaPresenteClienti", "Rifiuta"), "\"ATTIVA\"", {}, "0124\r\nexit 0"},
      {"only the other table holds it",
       Setting("PartitaIvaPresenteFornitori", "Rifiuta") + Setting("PartitaIvaPresenteClienti", "Riusa") +
           Subject("FORNITO", "000007", "01234567890"),
       "\"ATTIVA\"",
       {},
       "0124\r\nexit 0"},
      {"a different number",
       Setting("PartitaIvaPresenteClienti", "Riusa") + holder,
       "\"ATTIVA\"",
       {"-PIVA", "012345678901"},
       "0124\r\nexit 0"},
      {"a given code",
       Setting("PartitaIvaPresenteClienti", "Riusa") + Setting("ImpresaCessataClienti", "Rifiuta"),
       "\"ATTIVA\"",
       {"-CODICESOGGETTO", "C77"},
       "C77\r\nexit 0"},
  };
  for (const Case& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(AnswerWithStatus(c.status))});
    const std::string outcome = Run(c.sql, c.extra, registry);
    EXPECT_EQ(outcome, c.out) << c.name;
    EXPECT_TRUE(registry.WaitForRequest(1000)) << c.name;
    const std::string code = c.out.substr(0, c.out.find('\r'));
    Rows written = testing::QueryColumn(folder_.Archive(),
                                        "SELECT CODICE FROM CLIENTI WHERE RAGSOC > '' UNION ALL "
                                        "SELECT CODICE FROM FORNITO WHERE RAGSOC > ''");
    EXPECT_EQ(written, c.out.ends_with("exit 0") ? Rows{code} : Rows{}) << c.name;
  }
}

}  // namespace
}  // namespace korvane
