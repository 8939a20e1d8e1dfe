#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Text inside the program is UTF-8 in std::string. These helpers convert at the edges
// (database bytes, HTTP bytes, command-line bytes) and count the way the tool's callers
// count: in UTF-16 code units.
namespace korvane::platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Byte length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one
// (a continuation byte, C0, C1, F5 to FF).
std::size_t Utf8SequenceLength(unsigned char lead);

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// Decodes UTF-8 leniently: every invalid or truncated sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view codePoints);

// Bytes that may not be valid UTF-8 (arguments, file contents) made valid: bad bytes -> U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

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

// Length in UTF-16 code units, and the first `count` UTF-16 units of a text (empty when count
// is zero or negative). A cut never splits a surrogate pair: a pair that does not fit whole is
// dropped whole.
std::size_t Utf16Length(std::string_view utf8);
std::string Utf16Left(std::string_view utf8, std::int64_t count);

// Letters and digits of any script.
bool IsAlphanumeric(char32_t codePoint);

// Upper case by the simple Unicode case mapping (one code point to one code point).
std::string UpperCase(std::string_view utf8);

// Trims: each removes its own set of characters from both ends. The sets differ on purpose.
// Every character with code 32 or below, as the runtime's Trim does: HTTP header names and
// values, media types and charset names, parameter-block lines, the address written.
std::string_view TrimControl(std::string_view text);
// Blanks and tabs only: around a name of a JSON path and a number read from an answer's text.
std::string_view TrimBlanksAndTabs(std::string_view text);
// The white space of an INI file line: blank, tab, vertical tab, form feed and a stray CR. Other
// control characters are part of the text.
std::string_view TrimIniBlanks(std::string_view text);

// The lines of a settings file's text (split at LF), each without the INI blanks around it
// (a CR of a CR LF line end included); a blank line or a comment (starting with "#" or ";") is
// empty. Line n is element n - 1.
std::vector<std::string_view> SettingsLines(std::string_view text);

// True when the text holds an ASCII control character (below 0x20, or 0x7F): placed into a
// request line it could end that line and start another.
bool HasAsciiControlCharacter(std::string_view text);

// True when the text is not empty and holds ASCII letters and digits only.
bool IsAsciiLettersAndDigits(std::string_view text);

// Text from outside (a server's answer) made fit to stand inside a one-line message: every
// control character (C0, DEL, U+0080 to U+009F), line or paragraph separator (U+2028, U+2029)
// and bidirectional control (U+202A to U+202E, U+2066 to U+2069) becomes "?", and a text longer than
// kOutsideTextLimit UTF-16 units is cut to that many and followed by "...".
inline constexpr std::int64_t kOutsideTextLimit = 200;
std::string OutsideTextForMessage(std::string_view utf8);
// The same, whole: nothing is cut. For a text that is the message's own matter (a file name, a
// stored value, a library's line) rather than an answer of unknown length.
std::string TextForMessage(std::string_view utf8);

// The pattern with each "%s" or "%d" replaced by the next argument, in order (a number comes
// already written as text); a marker left without an argument stays as written, and nothing in
// an argument is read as a marker.
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// Compares ASCII letters without regard to case.
bool SameTextAscii(std::string_view a, std::string_view b);
std::string LowerCaseAscii(std::string_view text);

}  // namespace korvane::platform
