#include "app/list/ListReport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::TempDir;

std::string Bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

TEST(ListReport, OpensBackAsTheRowsWritten) {
  TempDir folder;
  const std::string path = folder.File("clienti.rapporto.csv");
  std::vector<ReportRow> rows = {
      {2, "743110157", "00743110157", RowOutcome::Imported, "C0012", "P.IVA completata con gli zeri iniziali", true,
       false, std::nullopt, "M5UXCR1", "rossi@pec.it"},
      {3, "\"12485671007\"; x", "12485671007", RowOutcome::Reused, "C0013", "riga\r\ndue", false, true, 2 * 86400 + 5,
       "", ""},
      {4, "12485671007", "12485671007", RowOutcome::AlreadyPresent, "C0001", "", false, false, 7200, "", ""},
      {6, "=HYPERLINK(\"http://x\")", "", RowOutcome::Invalid, "", "-1", false, false, std::nullopt, "", "@pec"},
      {5, "x", "x", RowOutcome::NotTried, "", "Credito esaurito", false, false, std::nullopt, "", ""},
  };
  WriteListReport(path, rows);
  const std::string bytes = Bytes(path);
  EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBFRiga;Valore;P.IVA;Esito;"));
  EXPECT_TRUE(bytes.ends_with(";;\r\n"));

  const ListTable table = ReadDelimitedText(bytes);
  EXPECT_EQ(table.form.separator, ';');
  EXPECT_EQ(table.form.lineEnd, "\r\n");
  ASSERT_EQ(table.records.size(), rows.size() + 1);
  const std::vector<std::vector<std::string>> expected = {
      {"2", "743110157", "00743110157", "importato", "C0012", "P.IVA completata con gli zeri iniziali", "s\xC3\xAC",
       "no", "", "M5UXCR1", "rossi@pec.it"},
      {"3", "\"12485671007\"; x", "12485671007", "riusato", "C0013", "riga\r\ndue", "no", "s\xC3\xAC", "2 giorni", "",
       ""},
      {"4", "12485671007", "12485671007", "gi\xC3\xA0 presente", "C0001", "", "no", "no", "2 ore", "", ""},
      // A value a spreadsheet would run as a formula is kept as text.
      {"6", "'=HYPERLINK(\"http://x\")", "", "non valido", "", "'-1", "no", "no", "", "", "'@pec"},
      {"5", "x", "x", "non tentata", "", "Credito esaurito", "no", "no", "", "", ""},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(table.records[i + 1].cells, expected[i]) << i;
  for (const auto& cells : expected) EXPECT_EQ(OutcomeWord(*OutcomeFromWord(cells[3])), cells[3]);
}

TEST(ListReport, RetryFileIsTheListsOwnFormWithOnlyThoseRows) {
  TempDir folder;
  // Windows-1252, CR LF, a byte order mark-less header: each row's bytes come back unchanged.
  const std::string input =
      "Societ\xE0;PIVA\r\n"
      "Caff\xE8;12485671007\r\n"
      "\"A;B\";00743110157\r\n"
      "C;01234560017\r\n";
  const ListFile list = InterpretListTable(ReadDelimitedText(input));
  const std::string path = RetryFilePath(folder.File("clienti.csv"), list.form);
  EXPECT_EQ(path, folder.File("clienti.da-riprovare.csv"));
  WriteRetryFile(path, list, {3, 4});
  EXPECT_EQ(Bytes(path),
            "Societ\xE0;PIVA\r\n"
            "\"A;B\";00743110157\r\n"
            "C;01234560017\r\n");
  const ListFile again = ReadListFile(path);
  ASSERT_EQ(again.entries.size(), 2u);
  EXPECT_EQ(again.entries[0].value, "00743110157");

  // A workbook's rows: ";" text, UTF-8 with a byte order mark, CR LF.
  ListTable sheet;
  sheet.form.kind = ListTableForm::Kind::Workbook;
  sheet.records = {{1, {"Nome", "PIVA"}, "Nome;PIVA"}, {2, {"A;B", "12485671007"}, "\"A;B\";12485671007"}};
  const ListFile workbook = InterpretListTable(sheet);
  const std::string sheetPath = RetryFilePath(folder.File("clienti.xlsx"), workbook.form);
  EXPECT_EQ(sheetPath, folder.File("clienti.da-riprovare.csv"));
  WriteRetryFile(sheetPath, workbook, {2});
  EXPECT_EQ(Bytes(sheetPath), "\xEF\xBB\xBFNome;PIVA\r\n\"A;B\";12485671007\r\n");
  EXPECT_EQ(ReadListFile(sheetPath).entries.at(0).value, "12485671007");
}

TEST(ListReport, AFolderThatCannotTakeItIsAnErrorAndLeavesNothing) {
  TempDir folder;
  const std::string path = folder.File("missing/rapporto.csv");
  try {
    WriteListReport(path, {});
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Rapporto non scrivibile (" + path + ": No such file or directory)");
  }
  EXPECT_EQ(DefaultReportPath("/srv/liste/clienti.csv"), "/srv/liste/clienti.rapporto.csv");
  EXPECT_EQ(DefaultReportPath("clienti"), "clienti.rapporto.csv");
}

}  // namespace
}  // namespace korvane
