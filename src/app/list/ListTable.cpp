#include "app/list/ListTable.h"

#include <algorithm>
#include <array>

#include "platform/CodePages.h"
#include "platform/Utf8.h"

namespace korvane {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The separator of the first record, counted outside quotes: the most frequent of ";" and tab,
// and "," only for a record without digits.
char FindSeparator(std::string_view text) {
  std::array<std::size_t, 3> counts{};
  constexpr std::array<char, 3> candidates{';', '\t', ','};
  bool quoted = false;
  bool digits = false;
  for (const char ch : text) {
    if (ch == '"') quoted = !quoted;
    if (quoted) continue;
    if (ch == '\n') break;
    if (ch >= '0' && ch <= '9') digits = true;
    for (std::size_t i = 0; i < candidates.size(); ++i) counts[i] += ch == candidates[i] ? 1 : 0;
  }
  if (digits) counts[2] = 0;
  const auto most = std::max_element(counts.begin(), counts.end());
  return *most == 0 ? 0 : candidates[static_cast<std::size_t>(most - counts.begin())];
}

bool IsBlank(const std::vector<std::string>& cells) {
  return std::ranges::all_of(cells, [](const std::string& cell) {
    return std::ranges::all_of(cell, [](char ch) { return ch == ' ' || ch == '\t'; });
  });
}

}  // namespace

std::string CsvField(std::string_view field, char separator) {
  if (field.find_first_of(std::string{'"', '\r', '\n', separator}) == std::string_view::npos) return std::string(field);
  std::string quoted = "\"";
  for (const char ch : field) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  return quoted + "\"";
}

ListTable ReadDelimitedText(std::string_view bytes) {
  ListTable table;
  if (bytes.starts_with(kUtf8ByteOrderMark)) {
    table.form.byteOrderMark = true;
    bytes.remove_prefix(kUtf8ByteOrderMark.size());
  }
  table.form.cp1252 = !platform::IsValidUtf8(bytes);
  const auto text = [&](std::string_view raw) {
    return table.form.cp1252 ? platform::Cp1252ToUtf8(raw) : std::string(raw);
  };
  const std::size_t firstEnd = bytes.find('\n');
  table.form.lineEnd =
      firstEnd != std::string_view::npos && firstEnd > 0 && bytes[firstEnd - 1] == '\r' ? "\r\n" : "\n";
  table.form.separator = FindSeparator(bytes);

  std::int64_t line = 1;
  std::size_t position = 0;
  while (position < bytes.size()) {
    ListRecord record;
    record.line = line;
    const std::size_t start = position;
    std::string cell;
    bool quoted = false;
    bool ended = false;
    while (position < bytes.size() && !ended) {
      const char ch = bytes[position++];
      if (quoted) {
        if (ch == '"' && position < bytes.size() && bytes[position] == '"') {
          cell += '"';
          ++position;
        } else if (ch == '"') {
          quoted = false;
        } else {
          if (ch == '\n') ++line;
          cell += ch;
        }
      } else if (ch == '"') {
        quoted = true;
      } else if (ch == '\n') {
        ended = true;
      } else if (table.form.separator != 0 && ch == table.form.separator) {
        record.cells.push_back(text(cell));
        cell.clear();
      } else {
        cell += ch;
      }
    }
    std::size_t end = ended ? position - 1 : position;
    if (end > start && bytes[end - 1] == '\r') {
      --end;
      if (!cell.empty() && cell.back() == '\r') cell.pop_back();
    }
    record.cells.push_back(text(cell));
    record.raw = std::string(bytes.substr(start, end - start));
    ++line;
    if (!IsBlank(record.cells)) table.records.push_back(std::move(record));
  }
  return table;
}

}  // namespace korvane
