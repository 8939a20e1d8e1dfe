#include "platform/Convert.h"

#include <cstddef>

namespace korvane {

namespace {

int DigitValue(char ch, int base) {
  int value = -1;
  if (ch >= '0' && ch <= '9') value = ch - '0';
  else if (ch >= 'a' && ch <= 'f') value = ch - 'a' + 10;
  else if (ch >= 'A' && ch <= 'F') value = ch - 'A' + 10;
  return value < base ? value : -1;
}

}  // namespace

std::optional<std::int32_t> StrToInt32(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;

  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }

  int base = 10;
  if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }

  if (pos == text.size()) return std::nullopt;  // no digits at all
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DigitValue(text[pos], base);
    if (digit < 0) return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace korvane
