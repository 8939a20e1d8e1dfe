#include "app/list/ListFile.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fstream>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::TempDir;

struct ExpectedEntry {
  std::int64_t line;
  std::string value;
  std::string kind;
  std::string code;
};

void ExpectEntries(const ListFile& list, const std::vector<ExpectedEntry>& expected, const std::string& label) {
  ASSERT_EQ(list.entries.size(), expected.size()) << label;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list.entries[i].line, expected[i].line) << label << " #" << i;
    EXPECT_EQ(list.entries[i].value, expected[i].value) << label << " #" << i;
    EXPECT_EQ(list.entries[i].kind, expected[i].kind) << label << " #" << i;
    EXPECT_EQ(list.entries[i].givenCode, expected[i].code) << label << " #" << i;
  }
}

TEST(ListFile, TextFormsAsOfficesWriteThem) {
  struct Case {
    const char* label;
    std::string bytes;
    char separator;
    bool byteOrderMark;
    bool cp1252;
    std::string lineEnd;
    std::vector<ExpectedEntry> entries;
  };
  const Case cases[] = {
      {"one number a line, blank lines left out",
       "12485671007\n\n  \n00743110157",
       0,
       false,
       false,
       "\n",
       {{1, "12485671007", "", ""}, {4, "00743110157", "", ""}}},
      {"a spreadsheet's CSV: BOM, ';', CR LF, the number's column named, kind and code",
       "\xEF\xBB\xBFRagione sociale;Partita IVA;Tipo;Codice\r\n"
       "\"Rossi; Bianchi \"\"srl\"\"\";IT 1248.5671-007;F;F0001\r\n"
       "Verdi;743110157;;\r\n",
       ';',
       true,
       false,
       "\r\n",
       {{2, "IT 1248.5671-007", "F", "F0001"}, {3, "743110157", "", ""}}},
      {"a tab-separated file, P.IVA in lower case",
       "nome\tp.iva\nA\t12485671007\n",
       '\t',
       false,
       false,
       "\n",
       {{2, "12485671007", "", ""}}},
      {"',' with a header",
       "PIVA,Ragione sociale\n12485671007,\"Rossi, srl\"\n",
       ',',
       false,
       false,
       "\n",
       {{2, "12485671007", "", ""}}},
      {"',' is no separator of a record of digits: the notation a spreadsheet saved",
       "1,23457E+10\n12485671007\n",
       0,
       false,
       false,
       "\n",
       {{1, "1,23457E+10", "", ""}, {2, "12485671007", "", ""}}},
      {"Windows-1252, a header without a known name: the first column",
       "Numero;Societ\xE0\n12485671007;Caff\xE8\n",
       ';',
       false,
       true,
       "\n",
       {{2, "12485671007", "", ""}}},
      {"a line break inside quotes: the next record's line counts it",
       "PIVA;Note\n12485671007;\"due\nrighe\"\n00743110157;x\n",
       ';',
       false,
       false,
       "\n",
       {{2, "12485671007", "", ""}, {4, "00743110157", "", ""}}},
      {"no header: numbers and names, first column",
       "12485671007;Rossi\n00743110157;Verdi\n",
       ';',
       false,
       false,
       "\n",
       {{1, "12485671007", "", ""}, {2, "00743110157", "", ""}}},
  };
  for (const Case& test : cases) {
    const ListFile list = InterpretListTable(ReadDelimitedText(test.bytes));
    EXPECT_EQ(list.form.separator, test.separator) << test.label;
    EXPECT_EQ(list.form.byteOrderMark, test.byteOrderMark) << test.label;
    EXPECT_EQ(list.form.cp1252, test.cp1252) << test.label;
    EXPECT_EQ(list.form.lineEnd, test.lineEnd) << test.label;
    ExpectEntries(list, test.entries, test.label);
  }
}

TEST(ListFile, RecordsKeepTheirBytesAndTheHeaderItsText) {
  const ListFile list = InterpretListTable(ReadDelimitedText("Societ\xE0;PIVA\r\n\"A;B\";1248567100\r\n"));
  ASSERT_TRUE(list.header);
  EXPECT_EQ(list.header->cells.at(0), "Societ\xC3\xA0");
  EXPECT_EQ(list.header->raw, "Societ\xE0;PIVA");
  ASSERT_EQ(list.entries.size(), 1u);
  EXPECT_EQ(list.entries[0].raw, "\"A;B\";1248567100");
}

// A workbook made with the zip library: the parts a spreadsheet program writes, namespaces and
// all.
void WriteWorkbook(const std::string& path, const std::vector<std::pair<std::string, std::string>>& parts) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const auto& [name, text] : parts) {
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

const char* const kWorkbook =
    R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Clienti" sheetId="3" r:id="rId7"/><sheet name="Altro" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const char* const kRelations =
    R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="x" Target="worksheets/sheet1.xml"/><Relationship Id="rId7" Type="x" Target="worksheets/sheet2.xml"/></Relationships>)";
const char* const kSharedStrings =
    R"(<?xml version="1.0" encoding="UTF-8"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>Ragione sociale</t></si><si><r><t>Partita </t></r><r><t>IVA</t></r><rPh><t>x</t></rPh></si><si><t>Caff&#232; &amp; C.</t></si><si><t>Tipo</t></si></sst>)";
const char* const kSheet =
    R"(<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData>)"
    R"(<x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c><x:c r="B1" t="s"><x:v>1</x:v></x:c><x:c r="D1" t="s"><x:v>3</x:v></x:c></x:row>)"
    R"(<x:row r="2"><x:c r="A2" t="s"><x:v>2</x:v></x:c><x:c r="B2"><x:v>743110157</x:v></x:c><x:c r="D2" t="inlineStr"><x:is><x:t>F</x:t></x:is></x:c></x:row>)"
    R"(<x:row r="4"><x:c r="B4"><x:v>1.2485671007E+10</x:v></x:c></x:row>)"
    R"(<x:row r="5"><x:c r="A5" t="str"><x:v>formula</x:v></x:c><x:c r="B5" t="str"><x:v>IT12485671007</x:v></x:c></x:row>)"
    R"(<x:row r="6"><x:c r="B6"/></x:row>)"
    R"(</x:sheetData></x:worksheet>)";

TEST(ListFile, WorkbookFirstSheetAsText) {
  TempDir folder;
  const std::string path = folder.File("clienti.xlsx");
  WriteWorkbook(path, {{"xl/workbook.xml", kWorkbook},
                       {"xl/_rels/workbook.xml.rels", kRelations},
                       {"xl/sharedStrings.xml", kSharedStrings},
                       {"xl/worksheets/sheet1.xml", "<worksheet/>"},
                       {"xl/worksheets/sheet2.xml", kSheet}});
  const ListFile list = ReadListFile(path);
  EXPECT_EQ(list.form.kind, ListTableForm::Kind::Workbook);
  ASSERT_TRUE(list.header);
  EXPECT_EQ(list.header->cells, (std::vector<std::string>{"Ragione sociale", "Partita IVA", "", "Tipo"}));
  ExpectEntries(list, {{2, "743110157", "F", ""}, {4, "12485671007", "", ""}, {5, "IT12485671007", "", ""}},
                "workbook");
  EXPECT_EQ(list.entries[0].raw, "Caff\xC3\xA8 & C.;743110157;;F");
}

TEST(ListFile, UnreadableFilesAreRefusedWithTheirReason) {
  TempDir folder;
  WriteWorkbook(folder.File("no-workbook.xlsx"), {{"readme.txt", "x"}});
  WriteWorkbook(folder.File("broken.xlsx"), {{"xl/workbook.xml", "<workbook><sheets>"}});
  std::ofstream(folder.File("not-a-zip.xlsx")) << "12485671007\n";
  const std::pair<std::string, std::string> cases[] = {
      {folder.File("missing.csv"), "No such file or directory"},
      {folder.File("no-workbook.xlsx"), "non è una cartella di lavoro .xlsx"},
      {folder.File("broken.xlsx"), "xl/workbook.xml: "},
      {folder.File("not-a-zip.xlsx"), "Not a zip archive"},
  };
  for (const auto& [path, reason] : cases) {
    try {
      ReadListFile(path);
      ADD_FAILURE() << path;
    } catch (const Exception& error) {
      EXPECT_TRUE(error.Message().starts_with("File della lista non leggibile (" + path + ": ")) << error.Message();
      EXPECT_NE(error.Message().find(reason), std::string::npos) << error.Message();
    }
  }
}

}  // namespace
}  // namespace korvane
