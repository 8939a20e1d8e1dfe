// The recipient code and the PEC written into the company's own columns, as runs of the built
// program meet them: settings checked before the registry call, values checked after it, and a
// value that cannot be stored whole left to the table's default.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;
using Rows = std::vector<std::string>;

constexpr const char* kCodeSetting = "ColonnaCodiceDestinatarioClienti";
constexpr const char* kPecSetting = "ColonnaPecClienti";

std::string Setting(const std::string& name, const std::string& value) {
  return "INSERT INTO TABX VALUES ('" + name + "', '" + value + "', NULL);\n";
}

// An answer in a format ("base", "IT-start", "IT-advanced") with `extra` members beside the
// company's other values.
std::string Answer(const std::string& format, const std::string& extra) {
  const std::string more = extra.empty() ? "" : "," + extra;
  if (format == "base") {
    return testing::JsonAnswer(R"({"success":true,"data":{"denominazione":"Rossi S.r.l.","cf":"01234567890",)"
                               R"("indirizzo":"Via Roma 12","civico":"12","comune":"Milano","provincia":"MI",)"
                               R"("cap":"20121")" +
                               more + "}}");
  }
  const std::string company = R"({"companyName":"ROSSI S.R.L.","taxCode":"01234567890","address":)"
                              R"({"registeredOffice":{"streetName":"VIA ROMA 12","streetNumber":"12",)"
                              R"("town":"MILANO","province":"MI","zipCode":"20121"}})" +
                              more + "}";
  // IT-advanced is documented with "data" as one object.
  return testing::JsonAnswer(R"({"success":true,"data":)" + (format == "IT-start" ? "[" + company + "]" : company) +
                             "}");
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

class EInvoiceRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RunIsql(folder_.Archive(),
                     "ALTER TABLE CLIENTI ADD CODICESDI VARCHAR(7) DEFAULT '0000000', ADD PECMAIL VARCHAR(30),\n"
                     "  ADD \"Pec \"\"legale\"\"\" VARCHAR(40), ADD UFFICIO CHAR(6), ADD NUMERO INTEGER;\n"
                     "ALTER TABLE FORNITO ADD SDIFORN CHAR(7) DEFAULT 'NESSUNO', ADD PECFORN VARCHAR(64);\n");
  }

  // Sets the archive up with `sql` (after removing every setting and every subject but 0123),
  // runs the program with `extra` switches against the registry at `format`'s path, and returns
  // its line and exit code as one text.
  std::string Run(const std::string& sql, const std::vector<std::string>& extra, const std::string& format,
                  TlsTestServer& registry, const std::string& tracePath = {}) {
    testing::RunIsql(folder_.Archive(),
                     "DELETE FROM TABX;\nDELETE FROM CLIENTI WHERE CODICE <> '0123';\n"
                     "DELETE FROM FORNITO;\n" +
                         sql);
    auto environment = folder_.Environment(registry);
    environment["KORVANE_REGISTRY_URL"] = registry.Url("/" + format + "/");
    if (!tracePath.empty()) environment["KORVANE_TRACE"] = tracePath;
    const testing::ProgramResult result =
        testing::RunProgram(folder_.Program(), testing::ProgramFolder::Arguments(extra), environment);
    EXPECT_EQ(result.err, "");
    return result.out + "exit " + std::to_string(result.exitCode);
  }

  // Every subject with its e-invoicing columns: "C code|recipient code|PEC|other PEC" and
  // "F code|recipient code|PEC".
  Rows Subjects() {
    return testing::QueryColumn(
        folder_.Archive(),
        "SELECT 'C ' || CODICE || '|' || COALESCE(CODICESDI, '<null>') || '|' || COALESCE(PECMAIL, '<null>') || '|' ||"
        " COALESCE(\"Pec \"\"legale\"\"\", '<null>') FROM CLIENTI UNION ALL "
        "SELECT 'F ' || CODICE || '|' || COALESCE(SDIFORN, '<null>') || '|' || COALESCE(PECFORN, '<null>') "
        "FROM FORNITO ORDER BY 1");
  }

  testing::ProgramFolder folder_{KORVANE_BINARY};
};

TEST_F(EInvoiceRunTest, WritesTheUsableValuesOfEachFormat) {
  const std::string both = Setting(kCodeSetting, "CODICESDI") + Setting(kPecSetting, " pecmail ");
  const std::string supplier =
      Setting("ColonnaCodiceDestinatarioFornitori", "sdiforn") + Setting("ColonnaPecFornitori", "PECFORN");
  const std::string pec30 = R"("pec":"amministrazione.rossi@pecmail.it")";  // 32 characters
  struct Case {
    std::string name, sql, format, extra;
    std::vector<std::string> switches;
    Rows stored;
  };
  const Case cases[] = {
      {"base",
       both,
       "base",
       R"("codice_destinatario":" m5uxcr1 ","pec":" rossi@pec.it ")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|M5UXCR1|rossi@pec.it|<null>"}},
      {"IT-start",
       both,
       "IT-start",
       R"("sdiCode":"ABC123","pec":"rossi@pec.it")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|ABC123|rossi@pec.it|<null>"}},
      {"IT-advanced",
       both,
       "IT-advanced",
       R"("sdiCode":"KRRH6B9","pec":"Orafo@Pec.Example")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|KRRH6B9|Orafo@Pec.Example|<null>"}},
      {"the other format's member is not read",
       both,
       "base",
       R"("sdiCode":"KRRH6B9")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|<null>"}},
      {"values not usable: the table's defaults",
       both,
       "IT-start",
       R"("sdiCode":"AB-1234",)" + pec30,
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|<null>"}},
      {"null and no address",
       both,
       "base",
       R"("codice_destinatario":null,"pec":"rossi.pec.it")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|<null>"}},
      {"no settings",
       "",
       "IT-advanced",
       R"("sdiCode":"KRRH6B9","pec":"rossi@pec.it")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|<null>"}},
      {"only the PEC, into a quoted name",
       Setting(kPecSetting, "pec \"LEGALE\""),
       "base",
       R"("codice_destinatario":"M5UXCR1","pec":"rossi@pec.it")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|rossi@pec.it"}},
      {"a supplier",
       supplier + both,
       "base",
       R"("codice_destinatario":"m5uxcr1","pec":"rossi@pec.it")",
       {"-TIPOSOGGETTO", "F"},
       {"C 0123|<null>|<null>|<null>", "F 0001|M5UXCR1|rossi@pec.it"}},
      {"a supplier run does not read the customer's settings",
       Setting(kPecSetting, "NUMERO"),
       "IT-start",
       R"("sdiCode":"M5UXCR1","pec":"rossi@pec.it")",
       {"-TIPOSOGGETTO", "F"},
       {"C 0123|<null>|<null>|<null>", "F 0001|NESSUNO|<null>"}},
      {"a customer run with the supplier's settings only",
       supplier,
       "base",
       R"("codice_destinatario":"M5UXCR1","pec":"rossi@pec.it")",
       {},
       {"C 0123|<null>|<null>|<null>", "C 0124|0000000|<null>|<null>"}},
  };
  for (const Case& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer(c.format, c.extra))});
    const std::string code = c.switches.empty() ? "0124" : "0001";
    EXPECT_EQ(Run(c.sql, c.switches, c.format, registry), code + "\r\nexit 0") << c.name;
    EXPECT_EQ(Subjects(), c.stored) << c.name;
  }
}

TEST_F(EInvoiceRunTest, RefusesABadSettingBeforeTheCall) {
  const std::string holder = "INSERT INTO CLIENTI (CODICE, PI, CODICESDI) VALUES ('A9', '01234567890', 'VECCHIO');\n";
  struct Case {
    std::string name, sql, out;
  };
  const Case cases[] = {
      {"unknown column", Setting(kCodeSetting, "SDI"),
       "Impostazione non valida (ColonnaCodiceDestinatarioClienti = SDI)"},
      {"a number column", Setting(kPecSetting, "numero"), "Impostazione non valida (ColonnaPecClienti = numero)"},
      {"one of the insert's own", Setting(kPecSetting, " CF "), "Impostazione non valida (ColonnaPecClienti = CF)"},
      {"too short for the code", Setting(kCodeSetting, "UFFICIO"),
       "Impostazione non valida (ColonnaCodiceDestinatarioClienti = UFFICIO)"},
      {"the same column twice", Setting(kCodeSetting, "CODICESDI") + Setting(kPecSetting, "CodiceSdi"),
       "Impostazione non valida (ColonnaPecClienti = CodiceSdi)"},
      {"a name with SQL in it", Setting(kPecSetting, "PECMAIL,CF) VALUES (''x'',''y''); --"),
       "Impostazione non valida (ColonnaPecClienti = PECMAIL,CF) VALUES ('x','y'); --)"},
      // Checked with the other settings, before an existing subject answers the run.
      {"before Riusa answers", Setting("PartitaIvaPresenteClienti", "Riusa") + Setting(kPecSetting, "NUMERO") + holder,
       "Impostazione non valida (ColonnaPecClienti = NUMERO)"},
  };
  for (const Case& c : cases) {
    TlsTestServer registry(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer("base", R"("codice_destinatario":"M5UXCR1")"))});
    EXPECT_EQ(Run(c.sql, {}, "base", registry), c.out + "\r\nexit 1") << c.name;
    registry.Stop();
    EXPECT_EQ(registry.Request(), "") << c.name << ": the registry was asked";
    const Rows before = c.sql.find("A9") != std::string::npos
                            ? Rows{"C 0123|<null>|<null>|<null>", "C A9|VECCHIO|<null>|<null>"}
                            : Rows{"C 0123|<null>|<null>|<null>"};
    EXPECT_EQ(Subjects(), before) << c.name;
  }
}

// "Riusa" answers with the stored subject: no call, and its columns stay as they are.
TEST_F(EInvoiceRunTest, AReusedSubjectIsLeftAsItIs) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(),
                          TlsTestServer::Send(Answer("base", R"("codice_destinatario":"M5UXCR1","pec":"a@pec.it")"))});
  const std::string sql = Setting("PartitaIvaPresenteClienti", "Riusa") + Setting(kCodeSetting, "CODICESDI") +
                          Setting(kPecSetting, "PECMAIL") +
                          "INSERT INTO CLIENTI (CODICE, PI, CODICESDI) VALUES ('A9', '01234567890', 'VECCHIO');\n";
  EXPECT_EQ(Run(sql, {}, "base", registry), "A9\r\nexit 0");
  registry.Stop();
  EXPECT_EQ(registry.Request(), "");
  EXPECT_EQ(Subjects(), (Rows{"C 0123|<null>|<null>|<null>", "C A9|VECCHIO|<null>|<null>"}));
}

TEST_F(EInvoiceRunTest, TracesTheSettingsAndEachValue) {
  testing::TempDir dir;
  const auto traceOf = [&](const std::string& name, const std::string& sql, const std::string& extra) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer("IT-start", extra))});
    EXPECT_EQ(Run(sql, {}, "IT-start", registry, dir.File(name)), "0124\r\nexit 0") << name;
    return FileText(dir.File(name));
  };
  const std::string both = traceOf("both", Setting(kCodeSetting, "codicesdi") + Setting(kPecSetting, "PECMAIL"),
                                   R"("sdiCode":"m5uxcr1","pec":"a@b")");
  for (const char* step :
       {"e-invoicing settings: ColonnaCodiceDestinatarioClienti CODICESDI (7 characters), ColonnaPecClienti "
        "PECMAIL (30 characters)\n",
        "recipient code 'M5UXCR1' for CODICESDI\n",
        "PEC left out of PECMAIL (table default): 'a@b' is not one address\n",
        "recipient code 'M5UXCR1' written to CODICESDI\n"}) {
    EXPECT_NE(both.find(step), std::string::npos) << step << "\n" << both;
  }
  // Written only once the insert is committed.
  EXPECT_GT(both.find("recipient code 'M5UXCR1' written to"), both.find("committed")) << both;
  const std::string pec = traceOf("pec", Setting(kPecSetting, "PECMAIL"), R"("sdiCode":"M5UXCR1")");
  for (const char* step : {"e-invoicing settings: ColonnaCodiceDestinatarioClienti off, ColonnaPecClienti PECMAIL "
                           "(30 characters)\n",
                           "PEC left out of PECMAIL (table default): not in the answer\n"}) {
    EXPECT_NE(pec.find(step), std::string::npos) << step << "\n" << pec;
  }
  EXPECT_EQ(pec.find("recipient code"), std::string::npos) << pec;
  // Without the settings the trace is as it was.
  const std::string none = traceOf("none", "", R"("sdiCode":"M5UXCR1","pec":"a@pec.it")");
  for (const char* absent : {"e-invoicing", "recipient code", "PEC "}) {
    EXPECT_EQ(none.find(absent), std::string::npos) << absent << "\n" << none;
  }
}

}  // namespace
}  // namespace korvane
