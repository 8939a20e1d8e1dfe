#include "app/list/ListFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/list/WorkbookSheet.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace korvane {

namespace {

// A list larger than this is no office's list: refused rather than read into memory.
constexpr std::streamoff kLargestListFile = 256 * 1024 * 1024;

// A header's name as compared: lower case, without blanks, dots, dashes and underscores.
std::string HeaderKey(std::string_view cell) {
  std::string key;
  for (const char ch : platform::LowerCaseAscii(cell)) {
    if (ch != ' ' && ch != '\t' && ch != '.' && ch != '-' && ch != '_') key += ch;
  }
  return key;
}

enum class Column { Number, Kind, Code, Other };

Column ColumnNamed(std::string_view cell) {
  const std::string key = HeaderKey(cell);
  if (key == "piva" || key == "partitaiva") return Column::Number;
  if (key == "tipo" || key == "tiposoggetto") return Column::Kind;
  if (key == "codice" || key == "codicesoggetto") return Column::Code;
  return Column::Other;
}

bool IsHeader(const ListRecord& record) {
  bool digits = false;
  for (const std::string& cell : record.cells) {
    if (ColumnNamed(cell) != Column::Other) return true;
    if (cell.find_first_of("0123456789") != std::string::npos) digits = true;
  }
  return !digits;
}

std::string CellOrEmpty(const ListRecord& record, std::optional<std::size_t> column) {
  return column && *column < record.cells.size() ? record.cells[*column] : std::string();
}

}  // namespace

ListFile InterpretListTable(ListTable table) {
  ListFile list;
  list.form = table.form;
  std::size_t numberColumn = 0;
  std::optional<std::size_t> kindColumn;
  std::optional<std::size_t> codeColumn;
  auto records = table.records.begin();
  if (records != table.records.end() && IsHeader(*records)) {
    bool named = false;
    for (std::size_t i = 0; i < records->cells.size(); ++i) {
      const Column column = ColumnNamed(records->cells[i]);
      if (column == Column::Number && !named) {
        numberColumn = i;
        named = true;
      }
      if (column == Column::Kind && !kindColumn) kindColumn = i;
      if (column == Column::Code && !codeColumn) codeColumn = i;
    }
    list.header = std::move(*records++);
  }
  for (; records != table.records.end(); ++records) {
    list.entries.push_back({records->line, CellOrEmpty(*records, numberColumn), CellOrEmpty(*records, kindColumn),
                            CellOrEmpty(*records, codeColumn), std::move(records->raw)});
  }
  return list;
}

ListFile ReadListFile(const std::string& path) {
  const auto unreadable = [&](std::string_view reason) {
    return Exception("File della lista non leggibile (" + path + ": " + std::string(reason) + ")");
  };
  std::ifstream file(path, std::ios::binary);
  if (!file) throw unreadable(std::strerror(errno));
  file.seekg(0, std::ios::end);
  if (file.tellg() > kLargestListFile) throw unreadable("file troppo grande");
  file.seekg(0);
  std::string start(4, '\0');
  file.read(start.data(), 4);
  start.resize(static_cast<std::size_t>(file.gcount()));
  const bool workbook = platform::LowerCaseAscii(path).ends_with(".xlsx") || start == std::string("PK\x03\x04", 4);
  if (workbook) return InterpretListTable(ReadWorkbookSheet(path));
  file.seekg(0);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) throw unreadable(std::strerror(errno));
  return InterpretListTable(ReadDelimitedText(bytes.str()));
}

}  // namespace korvane
