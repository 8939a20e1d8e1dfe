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

// The declared length, in characters, of each of the named text columns (CHAR or VARCHAR) of a
// table, read from the database's own metadata. A column that is missing or is not text has
// no entry. Read in a transaction of its own, ended before returning.
std::map<std::string, std::int32_t> TextColumnLengths(TIBDatabase& database, const std::string& table,
                                                      const std::vector<std::string>& columns);

// Raises the error the database layer raises when a text parameter is set to a value longer
// than its column, when `characters` is more than `length`; nothing when the length is unknown.
// Lets a value that cannot be written fail before any costly step.
void CheckLength(std::int64_t characters, std::optional<std::int32_t> length);

// The same for a text, counted as the layer counts it: its characters in the database's code page.
void CheckTextLength(std::string_view text, std::optional<std::int32_t> length);

}  // namespace korvane::config
