#include "platform/Text.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <cwctype>
#include <locale.h>

namespace korvane::platform {

namespace {

// Bytes 0x80 to 0x9F of Windows-1252. The five bytes the code page leaves undefined map to
// the C1 control of the same number, as the platform conversion does, so they round-trip.
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Best fit for Latin Extended-A (U+0100 to U+017F): the base letter. "?" marks the few
// letters with no base letter; those the code page holds itself are found before this table.
constexpr std::string_view kLatinExtendedABase =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKkkLlLlLlL"
    "lLlNnNnNnnNnOoOo"
    "OoOoRrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";

char BestFitCp1252(char32_t c) {
  if (c >= 0x100 && c <= 0x17F) return kLatinExtendedABase[c - 0x100];
  if (c >= 0x2010 && c <= 0x2015) return '-';
  if (c == 0x2032) return '\'';
  if (c == 0x2033) return '"';
  return '?';
}

// Decodes one code point at `pos`; on an invalid sequence returns U+FFFD and advances one byte.
char32_t NextCodePoint(std::string_view s, std::size_t& pos, bool* valid = nullptr) {
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

// The C.UTF-8 character classes: case mapping and letters of every script.
locale_t Utf8CaseLocale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return locale;
}

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

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, pos);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = 0;
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
      if (kCp1252High[i] == c) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += mapped != 0 ? mapped : BestFitCp1252(c);
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  for (char ch : cp1252) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) AppendUtf8(out, static_cast<unsigned char>(ch));
  return out;
}

std::string AsciiToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b < 0x80 ? b : kReplacementCharacter);
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const auto unitAt = [&](std::size_t i) -> char16_t {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  };
  const std::size_t units = bytes.size() / 2;
  for (std::size_t u = 0; u < units; ++u) {
    const char16_t unit = unitAt(u * 2);
    if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 < units) {
      const char16_t next = unitAt((u + 1) * 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (next - 0xDC00));
        ++u;
        continue;
      }
    }
    const bool lone = unit >= 0xD800 && unit <= 0xDFFF;
    AppendUtf8(out, lone ? kReplacementCharacter : char32_t(unit));
  }
  // A final odd byte is half a character.
  if (bytes.size() % 2 != 0) AppendUtf8(out, kReplacementCharacter);
  return out;
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
