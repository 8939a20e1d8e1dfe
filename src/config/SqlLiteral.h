#pragma once

#include <string>
#include <string_view>

namespace korvane::config {

// The text as it goes between apostrophes in a statement: each apostrophe doubled, so a value
// can neither end the literal early nor change the statement. Other text is unchanged.
std::string DoubleApostrophes(std::string_view value);

}  // namespace korvane::config
