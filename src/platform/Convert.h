#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane {

// The runtime's integer conversion: leading blanks skipped, an optional "+" or "-", then
// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow
// the digits and the value must lie in the signed 32-bit range. Anything else: no value.
std::optional<std::int32_t> StrToInt32(std::string_view text);

}  // namespace korvane
