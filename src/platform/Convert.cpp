#include "platform/Convert.h"

#include <cstddef>

namespace korvane::platform {

namespace {

// Takes an optional "+" or "-" off the front; true for "-".
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

}  // namespace

int HexDigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

std::optional<std::uint64_t> DigitsValue(std::string_view digits, int base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  const auto radix = static_cast<std::uint64_t>(base);
  std::uint64_t value = 0;
  for (char ch : digits) {
    const int digit = HexDigitValue(ch);
    if (digit < 0 || digit >= base) return std::nullopt;
    const auto digitValue = static_cast<std::uint64_t>(digit);
    if (digitValue > limit || value > (limit - digitValue) / radix) return std::nullopt;
    value = value * radix + digitValue;
  }
  return value;
}

std::optional<std::int32_t> StrToInt32(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const bool negative = TakeSign(text);

  int base = 10;
  if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }

  const std::optional<std::uint64_t> value = DigitsValue(text, base, negative ? 2147483648ull : 2147483647ull);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*value) : static_cast<std::int64_t>(*value));
}

std::optional<std::int64_t> DecimalToInt64(std::string_view text) {
  const bool negative = TakeSign(text);
  const std::optional<std::uint64_t> value =
      DigitsValue(text, 10, negative ? 9223372036854775808ull : 9223372036854775807ull);
  if (!value) return std::nullopt;
  if (negative) return *value == 0 ? 0 : -static_cast<std::int64_t>(*value - 1) - 1;
  return static_cast<std::int64_t>(*value);
}

}  // namespace korvane::platform
