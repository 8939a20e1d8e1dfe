#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/list/ListFile.h"

namespace korvane {

// What the reading of a list says of one row before anything is asked.
enum class ListVerdict {
  ToImport,   // a number to look up (its check digits are the company's setting to judge)
  Invalid,    // not a number that can be asked for: `message` says why
  Duplicate,  // the same number (and kind) as an earlier row, `firstLine`
};

struct ListNumber {
  ListEntry entry;
  std::string vatNumber;  // cleaned as -PIVA is, padded back to 11 digits when repaired
  std::optional<char> kind;
  ListVerdict verdict = ListVerdict::ToImport;
  bool repaired = false;  // 8 to 10 digits whose leading zeros a spreadsheet dropped
  std::string message;
  std::int64_t firstLine = 0;
};

// Cleans each row's number as the command line's -PIVA is, then: a number in scientific notation
// ("1,23457E+10", digits lost) is refused with its reason; 8 to 10 digits are padded with leading
// zeros only when the padded number passes the check digits; anything but letters and digits is
// refused; the same number for the same kind again is a duplicate of the first row.
std::vector<ListNumber> CheckListNumbers(const std::vector<ListEntry>& entries);

}  // namespace korvane
