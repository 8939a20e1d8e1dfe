#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// One record of a list file: where it starts, its cells as UTF-8 text, and the bytes it was
// written with (without its line end), which the file of rows to try again repeats.
struct ListRecord {
  std::int64_t line = 0;  // of the file (from 1), or the sheet's row number
  std::vector<std::string> cells;
  std::string raw;
};

// How the file was written, so that rows can be written back in the same form.
struct ListTableForm {
  enum class Kind { Text, Workbook } kind = Kind::Text;
  char separator = 0;  // ';', ',' or '\t'; 0 for one value a line
  bool byteOrderMark = false;
  bool cp1252 = false;  // else UTF-8
  std::string lineEnd = "\n";
};

struct ListTable {
  ListTableForm form;
  std::vector<ListRecord> records;  // blank records left out
};

// Reads a list written as text: one value a line, or values separated by ";", "," or a tab (the
// one the first record uses; "," only when that record has no digit, a header, since a number
// written "1,23457E+10" has one), quoted fields ("" for a quote, line breaks inside quotes kept).
// UTF-8 with or without its byte order mark, else Windows-1252; CR LF or LF.
ListTable ReadDelimitedText(std::string_view bytes);

// A field as a record separated by `separator` writes it: in quotes (each quote doubled) when it
// holds the separator, a quote or a line break, else as it is.
std::string CsvField(std::string_view field, char separator);

}  // namespace korvane
