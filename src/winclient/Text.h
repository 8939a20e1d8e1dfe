#pragma once

#include <string>
#include <string_view>

// Small text helpers of the desktop client, free of any operating system's interface.
namespace korvane::winclient {

// ASCII letters upper-cased; every other byte unchanged.
std::string AsciiUpperCase(std::string_view text);

// An INI file's bytes as UTF-8: UTF-16 (either byte order) after its byte-order mark, the UTF-8
// mark dropped, anything else left as it is.
std::string ProfileTextToUtf8(std::string_view bytes);

// Text from outside (a setting, a service's refusal) fit to stand inside a one-line message:
// bytes that are not UTF-8 become U+FFFD, control characters "?", and a text longer than
// kMessageTextLimit characters is cut there and followed by "...".
inline constexpr std::size_t kMessageTextLimit = 200;
std::string TextForMessage(std::string_view text);

// The lowercase hexadecimal digits of some bytes.
std::string LowerHex(std::string_view bytes);

}  // namespace korvane::winclient
