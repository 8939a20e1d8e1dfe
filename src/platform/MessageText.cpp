#include "platform/MessageText.h"

#include <algorithm>

#include "platform/Utf8.h"

namespace korvane::platform {

namespace {

// Control characters, the separators that end a line by Unicode's rules, and the controls that
// reorder the text around them on screen.
bool BreaksAMessageLine(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string OutsideTextForMessage(std::string_view utf8) {
  std::string cleaned;
  cleaned.reserve(std::min<std::size_t>(utf8.size(), 4 * kOutsideTextLimit + 4));
  std::int64_t units = 0;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, pos);
    const int width = c >= 0x10000 ? 2 : 1;
    if (units + width > kOutsideTextLimit) return cleaned + "...";
    units += width;
    AppendUtf8(cleaned, BreaksAMessageLine(c) ? U'?' : c);
  }
  return cleaned;
}

std::string TextForMessage(std::string_view utf8) {
  std::string cleaned;
  cleaned.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, pos);
    AppendUtf8(cleaned, BreaksAMessageLine(c) ? U'?' : c);
  }
  return cleaned;
}

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> arguments) {
  std::string out;
  auto next = arguments.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool marker = pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd');
    if (marker && next != arguments.end()) {
      out += *next++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace korvane::platform
