#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Text inside the program is UTF-8 in std::string. These read and write it code point by code
// point, and count the way the tool's callers count: in UTF-16 code units.
namespace korvane::platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Byte length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one
// (a continuation byte, C0, C1, F5 to FF).
std::size_t Utf8SequenceLength(unsigned char lead);

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// Decodes one code point at `pos` and moves past it; an invalid sequence gives U+FFFD, moves one
// byte and clears `*valid` when given.
char32_t NextCodePoint(std::string_view s, std::size_t& pos, bool* valid = nullptr);

// Decodes UTF-8 leniently: every invalid or truncated sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view codePoints);

// Bytes that may not be valid UTF-8 (arguments, file contents) made valid: bad bytes -> U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// Length in UTF-16 code units, and the first `count` UTF-16 units of a text (empty when count
// is zero or negative). A cut never splits a surrogate pair: a pair that does not fit whole is
// dropped whole.
std::size_t Utf16Length(std::string_view utf8);
std::string Utf16Left(std::string_view utf8, std::int64_t count);

// Letters and digits of any script.
bool IsAlphanumeric(char32_t codePoint);

// Upper case by the simple Unicode case mapping (one code point to one code point).
std::string UpperCase(std::string_view utf8);

}  // namespace korvane::platform
