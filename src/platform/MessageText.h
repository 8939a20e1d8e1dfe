#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// The one-line messages the tool prints: text placed inside them, and the patterns they are
// written from.
namespace korvane::platform {

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

}  // namespace korvane::platform
