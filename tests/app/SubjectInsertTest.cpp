#include "app/subject/SubjectInsert.h"

#include <gtest/gtest.h>

#include <ctime>

namespace korvane {
namespace {

TEST(DateLiteralText, IsMonthDayYear) {
  std::tm date{};
  date.tm_year = 2024 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 5;
  EXPECT_EQ(DateLiteralText(date), "03/05/2024");
}

TEST(SubjectInsert, TheStatementAndTheCompanysOwnColumns) {
  std::tm date{};
  date.tm_year = 2024 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 5;
  const std::string today = "03/05/2024";
  const std::string twelve =
      "(CODICE,RAGSOC,CF,PI,INDIRIZZO,NUMEROCIVICO,CITTA,PROVINCIA,CAP,CODICEPAESE,DATACREAZIONE,"
      "DATAULTIMOAGGIORNAMENTO";
  const std::string values =
      ":CODICE,:RAGSOC,:CF,:PI,:INDIRIZZO,:NUMEROCIVICO,:CITTA,:PROVINCIA,:CAP,'IT','" + today + "','" + today + "'";
  EXPECT_EQ(InsertStatementLines(TTipoSoggetto::tsCliente, {}, date),
            (std::vector<std::string>{"INSERT INTO CLIENTI", twelve + ")", "VALUES(", values + ")"}));
  EXPECT_EQ(
      InsertStatementLines(TTipoSoggetto::tsFornitore,
                           {{"CODICESDI", "CODICEDESTINATARIO", "M5UXCR1"}, {"Pec \"x\"", "PEC", "a@pec.it"}}, date),
      (std::vector<std::string>{"INSERT INTO FORNITO", twelve + ",\"CODICESDI\",\"Pec \"\"x\"\"\")", "VALUES(",
                                values + ",:CODICEDESTINATARIO,:PEC)"}));
}

}  // namespace
}  // namespace korvane
