#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {
class TIBDatabase;
}  // namespace korvane

namespace korvane::config {

// A column of a table as the database's metadata describes it.
struct TableColumn {
  std::string name;
  bool text = false;        // CHAR or VARCHAR
  bool computed = false;    // computed by the database, not stored
  std::int32_t length = 0;  // in characters, for a text column
  bool notNull = false;     // declared NOT NULL, on the column or its domain
  bool hasDefault = false;  // a default value, the column's or its domain's
};

// The columns of `table`, in their order, read from the metadata in a transaction of its own.
// None for a table that does not exist.
std::vector<TableColumn> ReadTableColumns(TIBDatabase& database, std::string_view table);

// The column a setting names: the one spelled exactly as the setting's text, else the only one
// spelled so without regard to ASCII letter case. Nothing when none or several are.
const TableColumn* FindColumn(const std::vector<TableColumn>& columns, std::string_view name);

// The declared length, in characters, of each of the named text columns (CHAR or VARCHAR) of a
// table, read from the database's own metadata. A column that is missing or is not text has
// no entry. Read with ReadTableColumns.
std::map<std::string, std::int32_t> TextColumnLengths(TIBDatabase& database, const std::string& table,
                                                      const std::vector<std::string>& columns);
// The same from a table's columns already read.
std::map<std::string, std::int32_t> TextColumnLengths(const std::vector<TableColumn>& tableColumns,
                                                      const std::vector<std::string>& columns);

// Raises the error the database layer raises when a text parameter is set to a value longer
// than its column, when `characters` is more than `length`; nothing when the length is unknown.
// Lets a value that cannot be written fail before any costly step.
void CheckLength(std::int64_t characters, std::optional<std::int32_t> length);

// The length of a text as the database layer counts it against a column: its characters in the
// database's code page.
std::int64_t TextLength(std::string_view text);

// CheckLength for a text, counted by TextLength.
void CheckTextLength(std::string_view text, std::optional<std::int32_t> length);

}  // namespace korvane::config
