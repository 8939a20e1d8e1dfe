#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane::platform {

// The value of a hexadecimal digit ("0"-"9", "a"-"f", "A"-"F"); -1 for any other character.
int HexDigitValue(char ch);

// The value of a run of digits in `base` (10 or 16): at least one digit, nothing else (no sign,
// no blank), and not above `limit`. Anything else: no value.
std::optional<std::uint64_t> DigitsValue(std::string_view digits, int base, std::uint64_t limit = UINT64_MAX);

// The integer readings differ on purpose, each the syntax its callers meet:
//
// The runtime's integer conversion (command-line values, settings): leading blanks skipped, an
// optional "+" or "-", then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or
// "0X"; nothing may follow the digits and the value must lie in the signed 32-bit range.
// Anything else: no value.
std::optional<std::int32_t> StrToInt32(std::string_view text);

// A protocol number (HTTP status code, Content-Length): an optional "+" or "-" and decimal
// digits only, in the signed 64-bit range. No blanks, no hexadecimal: trimming is the caller's.
std::optional<std::int64_t> DecimalToInt64(std::string_view text);

}  // namespace korvane::platform
