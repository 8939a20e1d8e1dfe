#pragma once

#include <string>
#include <string_view>

namespace korvane::registry {

// The character set of an answer from its Content-Type value: the "charset" parameter, else
// the defaults of text/* types, else UTF-8 for JSON types; empty when there is none.
std::string CharsetOfContentType(std::string_view contentType);

// Body bytes as UTF-8 text in the named character set (looked up without regard to case).
// With no name, or one that is not known, each byte becomes the code point of its number.
std::string DecodeCharset(std::string_view bytes, std::string_view charset);

}  // namespace korvane::registry
