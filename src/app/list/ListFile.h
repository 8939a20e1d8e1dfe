#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/list/ListTable.h"

namespace korvane {

// One row of a list to import: the number's cell as written, and the optional cells of the
// row's kind (C or F, "Cliente", "Fornitore") and of the code to give the subject.
struct ListEntry {
  std::int64_t line = 0;
  std::string value;
  std::string kind;
  std::string givenCode;
  std::string raw;  // the record as written, for the file of rows to try again
};

struct ListFile {
  ListTableForm form;
  std::optional<ListRecord> header;
  std::vector<ListEntry> entries;
};

// The list's rows from its table. The first record is a header when one of its cells names a
// column ("PIVA", "Partita IVA", "P.IVA", "Tipo", "Tipo soggetto", "Codice", in any case and
// spacing) or when it holds no digit; the number is in the column so named, else the first.
ListFile InterpretListTable(ListTable table);

// Reads the list file: an .xlsx workbook (by its name or its content), else text. Raises "File
// della lista non leggibile (<path>: <reason>)".
ListFile ReadListFile(const std::string& path);

}  // namespace korvane
