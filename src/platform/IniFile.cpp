#include "platform/IniFile.h"

#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace korvane::platform {

namespace {

// A file that cannot be read (missing, a folder, no permission) reads as empty.
std::string ReadFileBytes(const std::string& fileName) {
  try {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return {};
    std::string bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    return in.bad() ? std::string() : bytes;
  } catch (const std::ios_base::failure&) {
    return {};
  }
}

bool SameName(std::string_view a, std::string_view b) { return UpperCase(a) == UpperCase(b); }

}  // namespace

std::string DecodeIniText(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return SanitizeUtf8(bytes.substr(3));
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return Cp1252ToUtf8(bytes);
}

std::string ReadIniText(const std::string& fileName) { return DecodeIniText(ReadFileBytes(fileName)); }

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
  const std::string content = ReadIniText(fileName_);
  const std::string wantedSection(TrimIniBlanks(section));
  const std::string wantedKey(TrimIniBlanks(key));

  bool inSection = false;
  std::size_t lineStart = 0;
  while (lineStart < content.size()) {
    std::size_t lineEnd = content.find_first_of("\r\n", lineStart);
    if (lineEnd == std::string::npos) lineEnd = content.size();
    const std::string_view line = TrimIniBlanks(std::string_view(content).substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;

    if (line.starts_with('[')) {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      inSection = SameName(TrimIniBlanks(line.substr(1, close - 1)), wantedSection);
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (!SameName(TrimIniBlanks(line.substr(0, equals)), wantedKey)) continue;

    std::string_view value = TrimIniBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return Utf16Left(value, kMaxValueLength);
  }
  return std::string(defaultValue);
}

}  // namespace korvane::platform
