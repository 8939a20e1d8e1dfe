#include "platform/Utf8.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace korvane::platform {

namespace {

// The C.UTF-8 character classes: case mapping and letters of every script.
locale_t Utf8CaseLocale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return locale;
}

}  // namespace

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacementCharacter;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t NextCodePoint(std::string_view s, std::size_t& pos, bool* valid) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  const std::size_t length = Utf8SequenceLength(lead);
  auto fail = [&]() {
    ++pos;
    if (valid) *valid = false;
    return kReplacementCharacter;
  };
  if (length == 0 || pos + length > s.size()) return fail();
  if (length == 1) {
    ++pos;
    return lead;
  }
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return fail();
    c = (c << 6) | (b & 0x3F);
  }
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  if (overlong || surrogate || c > 0x10FFFF) return fail();
  pos += length;
  return c;
}

std::u32string DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) out += NextCodePoint(utf8, pos);
  return out;
}

std::string EncodeUtf8(std::u32string_view codePoints) {
  std::string out;
  out.reserve(codePoints.size());
  for (char32_t c : codePoints) AppendUtf8(out, c);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  bool valid = true;
  for (std::size_t pos = 0; pos < bytes.size() && valid;) NextCodePoint(bytes, pos, &valid);
  return valid;
}

std::string SanitizeUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return EncodeUtf8(DecodeUtf8(bytes));
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < utf8.size();) units += NextCodePoint(utf8, pos) >= 0x10000 ? 2 : 1;
  return units;
}

std::string Utf16Left(std::string_view utf8, std::int64_t count) {
  if (count <= 0) return {};
  std::int64_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::size_t next = pos;
    const int width = NextCodePoint(utf8, next) >= 0x10000 ? 2 : 1;
    if (units + width > count) break;
    units += width;
    pos = next;
  }
  return SanitizeUtf8(utf8.substr(0, pos));
}

bool IsAlphanumeric(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  const locale_t locale = Utf8CaseLocale();
  return locale != static_cast<locale_t>(nullptr) && iswalnum_l(static_cast<wint_t>(c), locale) != 0;
}

std::string UpperCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const locale_t locale = Utf8CaseLocale();
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t c = NextCodePoint(utf8, pos);
    if (c >= 'a' && c <= 'z') {
      c -= 'a' - 'A';
    } else if (c >= 0x80 && locale != static_cast<locale_t>(nullptr)) {
      c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace korvane::platform
