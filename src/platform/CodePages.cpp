#include "platform/CodePages.h"

#include <array>

#include "platform/Utf8.h"

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

}  // namespace

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

}  // namespace korvane::platform
