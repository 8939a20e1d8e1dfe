#include "platform/Text.h"

#include <algorithm>

namespace korvane::platform {

namespace {

// The text without the characters that `strip` accepts at either end.
template <typename Predicate>
std::string_view TrimWhere(std::string_view text, Predicate strip) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && strip(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && strip(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string_view TrimControl(std::string_view text) {
  return TrimWhere(text, [](unsigned char c) { return c <= 32; });
}

std::string_view TrimBlanksAndTabs(std::string_view text) {
  return TrimWhere(text, [](unsigned char c) { return c == ' ' || c == '\t'; });
}

std::string_view TrimIniBlanks(std::string_view text) {
  return TrimWhere(text, [](unsigned char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; });
}

std::vector<std::string_view> SettingsLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimIniBlanks(text.substr(start, end - start));
    if (line.starts_with('#') || line.starts_with(';')) line = {};
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool HasAsciiControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool IsAsciiLettersAndDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
}

std::string LowerCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
  }
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LowerCaseAscii(a) == LowerCaseAscii(b);
}

}  // namespace korvane::platform
