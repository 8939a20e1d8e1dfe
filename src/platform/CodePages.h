#pragma once

#include <string>
#include <string_view>

// Conversions at the edges: the bytes of another encoding (database bytes, HTTP bytes) to and
// from the program's UTF-8.
namespace korvane::platform {

// Windows-1252, the code page of every text exchanged with the databases.
// Characters it cannot hold become a best-fit letter (the base letter of an accented one)
// or "?".
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view cp1252);

// Each byte becomes the code point with the same number (ISO-8859-1).
std::string Latin1ToUtf8(std::string_view bytes);
// 7-bit text: a byte above 127 becomes U+FFFD.
std::string AsciiToUtf8(std::string_view bytes);
// UTF-16 bytes in the given order (no byte order mark read): a lone surrogate or a final odd
// byte becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

}  // namespace korvane::platform
