#include "registry/Charset.h"

#include <array>
#include <cstdint>

#include "platform/CodePages.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane::registry {

namespace {

using platform::AppendUtf8;
using platform::kReplacementCharacter;

enum class Charset { None, Ascii, Latin1, Windows1252, Utf7, Utf8, Utf16, Utf16Le, Utf16Be, Utf32, Utf32Le, Utf32Be };

struct CharsetName {
  std::string_view name;
  Charset charset;
};

// IANA names and aliases, plus the spellings without a hyphen that clients accept as well.
constexpr std::array kCharsetNames{
    CharsetName{"us-ascii", Charset::Ascii},
    CharsetName{"ascii", Charset::Ascii},
    CharsetName{"ansi_x3.4-1968", Charset::Ascii},
    CharsetName{"ansi_x3.4-1986", Charset::Ascii},
    CharsetName{"iso-ir-6", Charset::Ascii},
    CharsetName{"iso_646.irv:1991", Charset::Ascii},
    CharsetName{"iso646-us", Charset::Ascii},
    CharsetName{"us", Charset::Ascii},
    CharsetName{"ibm367", Charset::Ascii},
    CharsetName{"cp367", Charset::Ascii},
    CharsetName{"csascii", Charset::Ascii},
    CharsetName{"iso-8859-1", Charset::Latin1},
    CharsetName{"iso_8859-1", Charset::Latin1},
    CharsetName{"iso_8859-1:1987", Charset::Latin1},
    CharsetName{"iso-ir-100", Charset::Latin1},
    CharsetName{"latin1", Charset::Latin1},
    CharsetName{"l1", Charset::Latin1},
    CharsetName{"ibm819", Charset::Latin1},
    CharsetName{"cp819", Charset::Latin1},
    CharsetName{"csisolatin1", Charset::Latin1},
    CharsetName{"windows-1252", Charset::Windows1252},
    CharsetName{"cswindows1252", Charset::Windows1252},
    CharsetName{"utf-7", Charset::Utf7},
    CharsetName{"csutf7", Charset::Utf7},
    CharsetName{"utf7", Charset::Utf7},
    CharsetName{"utf-8", Charset::Utf8},
    CharsetName{"csutf8", Charset::Utf8},
    CharsetName{"utf8", Charset::Utf8},
    CharsetName{"utf-16", Charset::Utf16},
    CharsetName{"csutf16", Charset::Utf16},
    CharsetName{"utf16", Charset::Utf16},
    CharsetName{"utf-16le", Charset::Utf16Le},
    CharsetName{"csutf16le", Charset::Utf16Le},
    CharsetName{"utf16le", Charset::Utf16Le},
    CharsetName{"utf-16be", Charset::Utf16Be},
    CharsetName{"csutf16be", Charset::Utf16Be},
    CharsetName{"utf16be", Charset::Utf16Be},
    CharsetName{"utf-32", Charset::Utf32},
    CharsetName{"csutf32", Charset::Utf32},
    CharsetName{"utf32", Charset::Utf32},
    CharsetName{"utf-32le", Charset::Utf32Le},
    CharsetName{"csutf32le", Charset::Utf32Le},
    CharsetName{"utf32le", Charset::Utf32Le},
    CharsetName{"utf-32be", Charset::Utf32Be},
    CharsetName{"csutf32be", Charset::Utf32Be},
    CharsetName{"utf32be", Charset::Utf32Be},
};

Charset FindCharset(std::string_view name) {
  const std::string lower = platform::LowerCaseAscii(platform::TrimControl(name));
  for (const auto& entry : kCharsetNames) {
    if (entry.name == lower) return entry.charset;
  }
  return Charset::None;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian, bool honourByteOrderMark) {
  if (honourByteOrderMark && bytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 == 0xFE && b1 == 0xFF) return platform::Utf16ToUtf8(bytes.substr(2), true);
    if (b0 == 0xFF && b1 == 0xFE) return platform::Utf16ToUtf8(bytes.substr(2), false);
  }
  return platform::Utf16ToUtf8(bytes, bigEndian);
}

std::string DecodeUtf32(std::string_view bytes, bool bigEndian, bool honourByteOrderMark) {
  auto valueAt = [&](std::size_t at, bool big) -> std::uint32_t {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[at + (big ? i : 3 - i)]);
      value = (value << 8) | byte;
    }
    return value;
  };
  std::size_t pos = 0;
  if (honourByteOrderMark && bytes.size() >= 4) {
    if (valueAt(0, true) == 0xFEFF) {
      bigEndian = true;
      pos = 4;
    } else if (valueAt(0, false) == 0xFEFF) {
      bigEndian = false;
      pos = 4;
    }
  }
  std::string out;
  for (; pos + 3 < bytes.size(); pos += 4) {
    const std::uint32_t value = valueAt(pos, bigEndian);
    const bool valid = value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    AppendUtf8(out, valid ? static_cast<char32_t>(value) : kReplacementCharacter);
  }
  if (pos < bytes.size()) AppendUtf8(out, kReplacementCharacter);
  return out;
}

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// UTF-7: direct characters, and "+" runs of modified base64 holding UTF-16 units.
std::string DecodeUtf7(std::string_view bytes) {
  std::u16string units;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[pos++]);
    if (c != '+') {
      units.push_back(c < 128 ? c : static_cast<char16_t>(kReplacementCharacter));
      continue;
    }
    if (pos < bytes.size() && bytes[pos] == '-') {
      units.push_back(u'+');
      ++pos;
      continue;
    }
    std::uint32_t bits = 0;
    int bitCount = 0;
    while (pos < bytes.size()) {
      const int value = Base64Value(static_cast<unsigned char>(bytes[pos]));
      if (value < 0) break;
      ++pos;
      bits = ((bits << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
      bitCount += 6;
      if (bitCount >= 16) {
        bitCount -= 16;
        units.push_back(static_cast<char16_t>((bits >> bitCount) & 0xFFFF));
      }
    }
    if (pos < bytes.size() && bytes[pos] == '-') ++pos;
  }
  std::string asBytes;
  asBytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    asBytes.push_back(static_cast<char>(unit >> 8));
    asBytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return DecodeUtf16(asBytes, true, false);
}

}  // namespace

std::string CharsetOfContentType(std::string_view contentType) {
  const std::size_t semicolon = contentType.find(';');
  const std::string mediaType = platform::LowerCaseAscii(platform::TrimControl(contentType.substr(0, semicolon)));
  std::string_view parameters =
      semicolon == std::string_view::npos ? std::string_view() : contentType.substr(semicolon + 1);
  while (!parameters.empty()) {
    const std::size_t end = parameters.find(';');
    const std::string_view parameter = parameters.substr(0, end);
    parameters = end == std::string_view::npos ? std::string_view() : parameters.substr(end + 1);
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    if (!platform::SameTextAscii(platform::TrimControl(parameter.substr(0, equals)), "charset")) continue;
    std::string_view value = platform::TrimControl(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (!value.empty()) return std::string(value);
  }
  const std::size_t slash = mediaType.find('/');
  const std::string_view type = std::string_view(mediaType).substr(0, slash);
  const std::string_view subtype =
      slash == std::string::npos ? std::string_view() : std::string_view(mediaType).substr(slash + 1);
  if (type == "text") {
    if (subtype == "xml" || subtype == "xml-external-parsed-entity" || subtype.ends_with("+xml")) return "us-ascii";
    return "ISO-8859-1";
  }
  // JSON is UTF-8 by definition (RFC 8259); reading it byte by byte would garble every accent.
  if (mediaType == "application/json" || subtype.ends_with("+json")) return "utf-8";
  return {};
}

std::string DecodeCharset(std::string_view bytes, std::string_view charset) {
  switch (FindCharset(charset)) {
    case Charset::Ascii: return platform::AsciiToUtf8(bytes);
    case Charset::Latin1: return platform::Latin1ToUtf8(bytes);
    case Charset::Windows1252: return platform::Cp1252ToUtf8(bytes);  // as the answer labels it
    case Charset::Utf7: return DecodeUtf7(bytes);
    case Charset::Utf8: return platform::SanitizeUtf8(bytes);
    case Charset::Utf16: return DecodeUtf16(bytes, true, true);
    case Charset::Utf16Le: return DecodeUtf16(bytes, false, false);
    case Charset::Utf16Be: return DecodeUtf16(bytes, true, false);
    case Charset::Utf32: return DecodeUtf32(bytes, true, true);
    case Charset::Utf32Le: return DecodeUtf32(bytes, false, false);
    case Charset::Utf32Be: return DecodeUtf32(bytes, true, false);
    case Charset::None: break;
  }
  return platform::Latin1ToUtf8(bytes);
}

}  // namespace korvane::registry
