#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/CodePages.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane::platform {

namespace {

// A file that cannot be read (missing, a folder, a FIFO or a device, no permission) reads as
// empty; one larger than kMaxFileBytes is refused before more than that is read.
std::string ReadFileBytes(const std::string& fileName) {
  // Not blocking: a FIFO without a writer must not hold the run.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat info {};
  std::string bytes;
  bool tooLarge = false;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    tooLarge = info.st_size > IniFile::kMaxFileBytes;
    char buffer[65536];
    // One byte past the limit tells a file that grew since.
    while (!tooLarge) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      tooLarge = bytes.size() > static_cast<std::size_t>(IniFile::kMaxFileBytes);
    }
  }
  ::close(fd);
  if (tooLarge) throw Exception("File " + SanitizeUtf8(fileName) + " troppo grande (oltre 1 MiB)");
  return bytes;
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
