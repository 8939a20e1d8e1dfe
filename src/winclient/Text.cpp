#include "winclient/Text.h"

namespace korvane::winclient {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  const auto unitAt = [&](std::size_t i) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const char32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t next = unitAt(i + 2);
      if (next >= 0xDC00 && next < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? kReplacement : unit);
  }
  if (i < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

// The code point that starts at `position` and its length; U+FFFD and 1 for a byte that starts
// no valid sequence.
std::pair<char32_t, std::size_t> NextCodePoint(std::string_view text, std::size_t position) {
  const auto lead = static_cast<unsigned char>(text[position]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (position + length > text.size()) return {kReplacement, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[position + i]);
    if ((next & 0xC0) != 0x80) return {kReplacement, 1};
    value = value << 6 | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) return {kReplacement, 1};
  return {value, length};
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029; }

}  // namespace

std::string AsciiUpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string ProfileTextToUtf8(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  return std::string(bytes);
}

std::string TextForMessage(std::string_view text) {
  std::string out;
  std::size_t characters = 0;
  for (std::size_t position = 0; position < text.size(); ++characters) {
    if (characters == kMessageTextLimit) return out + "...";
    const auto [codePoint, length] = NextCodePoint(text, position);
    AppendUtf8(out, IsControl(codePoint) ? U'?' : codePoint);
    position += length;
  }
  return out;
}

std::string LowerHex(std::string_view bytes) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    hex += kDigits[value >> 4];
    hex += kDigits[value & 0x0F];
  }
  return hex;
}

}  // namespace korvane::winclient
