#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// Left-pads `s` with blanks to `width` characters, or cuts it to its first `width` characters
// when it is longer (empty for a width of zero or less). Lengths count UTF-16 code units.
std::string PadLeft(std::string_view s, std::int32_t width);

}  // namespace korvane
