#include "app/subject/SubjectInsert.h"

#include <gtest/gtest.h>

#include <ctime>

#include "db/IBDatabase.h"
#include "db/IBSQL.h"

namespace korvane {
namespace {

TEST(DateLiteralText, IsMonthDayYear) {
  std::tm date{};
  date.tm_year = 2024 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 5;
  EXPECT_EQ(DateLiteralText(date), "03/05/2024");
}

// The statement's lines, built before any attachment is needed.
std::vector<std::string> StatementLines(TTipoSoggetto tipo, std::vector<CompanyColumnValue> companyColumns = {}) {
  TIBDatabase archive;
  platform::RunGate gate;
  const SubjectInsert insert(archive, tipo, gate, nullptr, std::move(companyColumns));
  return insert.StatementLines();
}

TEST(SubjectInsert, TheStatementAndTheCompanysOwnColumns) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string today = DateLiteralText(local);
  const std::string twelve =
      "(CODICE,RAGSOC,CF,PI,INDIRIZZO,NUMEROCIVICO,CITTA,PROVINCIA,CAP,CODICEPAESE,DATACREAZIONE,"
      "DATAULTIMOAGGIORNAMENTO";
  const std::string values =
      ":CODICE,:RAGSOC,:CF,:PI,:INDIRIZZO,:NUMEROCIVICO,:CITTA,:PROVINCIA,:CAP,'IT','" + today + "','" + today + "'";
  EXPECT_EQ(StatementLines(TTipoSoggetto::tsCliente),
            (std::vector<std::string>{"INSERT INTO CLIENTI", twelve + ")", "VALUES(", values + ")"}));
  EXPECT_EQ(StatementLines(TTipoSoggetto::tsFornitore,
                           {{"CODICESDI", "CODICEDESTINATARIO", "M5UXCR1"}, {"Pec \"x\"", "PEC", "a@pec.it"}}),
            (std::vector<std::string>{"INSERT INTO FORNITO", twelve + ",\"CODICESDI\",\"Pec \"\"x\"\"\")", "VALUES(",
                                      values + ",:CODICEDESTINATARIO,:PEC)"}));
}

}  // namespace
}  // namespace korvane
