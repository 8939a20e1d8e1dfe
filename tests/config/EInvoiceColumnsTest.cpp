#include "config/EInvoiceColumns.h"

#include <gtest/gtest.h>

#include <array>

#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/StatementText.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane::config {
namespace {

using testing::OutcomeOf;

constexpr EInvoiceSettingNames kCustomer{"ColonnaCodiceDestinatarioClienti", "ColonnaPecClienti"};
constexpr EInvoiceSettingNames kSupplier{"ColonnaCodiceDestinatarioFornitori", "ColonnaPecFornitori"};
// The insert's own columns (the program passes its list).
constexpr std::array<std::string_view, 12> kWritten{
    "CODICE", "RAGSOC",    "CF",  "PI",          "INDIRIZZO",     "NUMEROCIVICO",
    "CITTA",  "PROVINCIA", "CAP", "CODICEPAESE", "DATACREAZIONE", "DATAULTIMOAGGIORNAMENTO"};

std::string Row(const std::string& name, const std::string& value) {
  return "INSERT INTO TABX VALUES ('" + name + "', '" + value + "', NULL);\n";
}

std::string Text(const EInvoiceColumns& columns) {
  const auto one = [](const std::optional<CompanyColumn>& column) {
    return column ? column->name + "(" + std::to_string(column->length) + ")" : std::string("off");
  };
  return "code " + one(columns.recipientCode) + ", pec " + one(columns.pec);
}

class EInvoiceColumnsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql"));
    testing::RunIsql(archive_,
                     "CREATE DOMAIN DOM_SDI AS VARCHAR(7) NOT NULL;\n"
                     "CREATE DOMAIN DOM_PEC AS VARCHAR(60) DEFAULT '';\n"
                     "ALTER TABLE CLIENTI ADD CODICESDI VARCHAR(7) DEFAULT '0000000', ADD PECMAIL VARCHAR(64),\n"
                     "  ADD \"CodiceUfficio\" CHAR(6), ADD \"PecLegale\" CHAR(80), ADD NUMERO INTEGER,\n"
                     "  ADD \"Pec\" VARCHAR(40), ADD \"pec\" VARCHAR(40), ADD CODUTF VARCHAR(7) CHARACTER SET UTF8,\n"
                     "  ADD \"PEC\"\"X\" VARCHAR(20), ADD SDICALC COMPUTED BY (CAST(CAP AS VARCHAR(10))),\n"
                     "  ADD SDIOBBL VARCHAR(7) NOT NULL, ADD PECOBBL VARCHAR(60) DEFAULT '' NOT NULL,\n"
                     "  ADD SDIDOM DOM_SDI, ADD SDIDOMDEF DOM_SDI DEFAULT 'XXXXXXX', ADD PECDOM DOM_PEC NOT NULL;\n"
                     "ALTER TABLE FORNITO ADD SDIFORNITORE CHAR(7), ADD PECFORNITORE VARCHAR(50);\n");
  }

  // The settings read from TABX after its rows are replaced by `rows` (statements, one a line),
  // written through the test's own attachment: the embedded engine lets one process at the file.
  std::string Read(const std::string& rows, std::string_view table = "CLIENTI",
                   const EInvoiceSettingNames& names = kCustomer) {
    if (!database_.Connected()) OpenIBDatabaseFile(database_, archive_);
    TIBTransaction transaction(&database_);
    transaction.StartTransaction();
    for (const std::string& statement : db::SplitLines("DELETE FROM TABX\n" + rows)) {
      TIBSQL sql(&database_);
      sql.SetTransaction(&transaction);
      sql.SetParamCheck(false);
      sql.AddLine(statement.substr(0, statement.find_last_not_of(";") + 1));
      sql.ExecQuery();
    }
    transaction.Commit();
    return OutcomeOf([&] { return Text(ReadEInvoiceColumns(database_, table, names, kWritten)); });
  }

  std::vector<TableColumn> Columns(std::string_view table) {
    if (!database_.Connected()) OpenIBDatabaseFile(database_, archive_);
    return ReadTableColumns(database_, table);
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.File("archivio.fdb");
  TIBDatabase database_;
};

TEST_F(EInvoiceColumnsTest, NamesTextColumnsOfTheTableAsTheMetadataSpellsThem) {
  const std::string code = "ColonnaCodiceDestinatarioClienti";
  const std::string pec = "ColonnaPecClienti";
  struct Case {
    std::string name, rows, outcome;
  };
  const Case cases[] = {
      {"no settings", "", "code off, pec off"},
      {"empty and blank", Row(code, "") + Row(pec, "  "), "code off, pec off"},
      {"both", Row(code, "CODICESDI") + Row(pec, "PECMAIL"), "code CODICESDI(7), pec PECMAIL(64)"},
      {"letter case and blanks", Row(code, " codicesdi ") + Row(pec, "PecMail"), "code CODICESDI(7), pec PECMAIL(64)"},
      {"a quoted name", Row(pec, "peclegale"), "code off, pec PecLegale(80)"},
      {"the exact spelling first", Row(pec, "pec"), "code off, pec pec(40)"},
      {"characters, not bytes", Row(code, "codutf"), "code CODUTF(7), pec off"},
      {"a double quote in the name", Row(pec, "pec\"x"), "code off, pec PEC\"X(20)"},
      {"NOT NULL with a default", Row(code, "SDIDOMDEF") + Row(pec, "PECOBBL"), "code SDIDOMDEF(7), pec PECOBBL(60)"},
      {"NOT NULL with the domain's default", Row(pec, "PECDOM"), "code off, pec PECDOM(60)"},
      {"the supplier's settings are not the customer's", Row("ColonnaPecFornitori", "NOSUCH"), "code off, pec off"},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.rows), c.outcome) << c.name;
  EXPECT_EQ(Read(Row("ColonnaCodiceDestinatarioFornitori", "sdifornitore") +
                     Row("ColonnaPecFornitori", "PECFORNITORE") + Row(code, "NOSUCH"),
                 "FORNITO", kSupplier),
            "code SDIFORNITORE(7), pec PECFORNITORE(50)");
}

TEST_F(EInvoiceColumnsTest, RefusesWhatCannotReceiveTheValue) {
  const std::string code = "ColonnaCodiceDestinatarioClienti";
  const std::string pec = "ColonnaPecClienti";
  struct Case {
    std::string name, rows, outcome;
  };
  const Case cases[] = {
      {"unknown column", Row(code, " CODICE_SDI "),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = CODICE_SDI)"},
      {"a number column", Row(pec, "numero"), "error: Impostazione non valida (ColonnaPecClienti = numero)"},
      {"a computed column", Row(pec, "SDICALC"), "error: Impostazione non valida (ColonnaPecClienti = SDICALC)"},
      {"one of the insert's own", Row(pec, "ragsoc"), "error: Impostazione non valida (ColonnaPecClienti = ragsoc)"},
      {"the insert's code", Row(code, "CODICE"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = CODICE)"},
      {"too short for the code", Row(code, "CodiceUfficio"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = CodiceUfficio)"},
      {"the same column twice", Row(code, "CODICESDI") + Row(pec, "codicesdi"),
       "error: Impostazione non valida (ColonnaPecClienti = codicesdi)"},
      {"two columns alike", Row(pec, "PEc"), "error: Impostazione non valida (ColonnaPecClienti = PEc)"},
      {"another table's column", Row(code, "SDIFORNITORE"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = SDIFORNITORE)"},
      {"a name with SQL in it", Row(pec, "PECMAIL) VALUES (1); DROP TABLE CLIENTI; --"),
       "error: Impostazione non valida (ColonnaPecClienti = PECMAIL) VALUES (1); DROP TABLE CLIENTI; --)"},
      {"a quoted name with SQL in it", Row(pec, "\"PECMAIL\",\"CF\""),
       "error: Impostazione non valida (ColonnaPecClienti = \"PECMAIL\",\"CF\")"},
      {"NOT NULL without a default", Row(code, " sdiobbl"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = sdiobbl)"},
      {"NOT NULL by its domain", Row(code, "SDIDOM"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = SDIDOM)"},
      {"the code's setting first", Row(code, "NUMERO") + Row(pec, "NUMERO"),
       "error: Impostazione non valida (ColonnaCodiceDestinatarioClienti = NUMERO)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.rows), c.outcome) << c.name;
  // The table's columns are what they were.
  EXPECT_EQ(Columns("CLIENTI").size(), 27u);
}

TEST_F(EInvoiceColumnsTest, ReadsTheTablesColumns) {
  const std::vector<TableColumn> columns = Columns("FORNITO");
  ASSERT_EQ(columns.size(), 14u);
  EXPECT_EQ(columns[0].name, "CODICE");
  EXPECT_TRUE(columns[0].text);
  EXPECT_EQ(columns[10].name, "DATACREAZIONE");
  EXPECT_FALSE(columns[10].text);
  EXPECT_EQ(columns[12].name, "SDIFORNITORE");
  EXPECT_EQ(columns[12].length, 7);
  EXPECT_FALSE(columns[12].notNull);
  EXPECT_FALSE(columns[12].hasDefault);
  EXPECT_TRUE(columns[0].notNull);  // the key
  EXPECT_TRUE(Columns("MANCA").empty());
  EXPECT_TRUE(Columns("CLIENTI' OR 'A'='A").empty());
  EXPECT_EQ(QuotedIdentifier("PEC\"X"), "\"PEC\"\"X\"");
  EXPECT_EQ(QuotedIdentifier("CODICESDI"), "\"CODICESDI\"");
}

}  // namespace
}  // namespace korvane::config
