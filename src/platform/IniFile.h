#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::platform {

// Reads values from an INI profile file ("[section]" headers, "key=value" lines) the way the
// management suite's own settings reader does, so a dati.ini written for it reads the same:
// - section and key names match without regard to letter case;
// - blanks around names and values are ignored;
// - one matching pair of single or double quotes around a value is removed;
// - a value is cut to its first 2047 characters (UTF-16 units);
// - a missing file, section or key gives the default; so does a file that is not a regular one;
// - a file over 1 MiB is refused (korvane::Exception naming it) before it is read whole.
// The file is read at each call and never written. It is decoded as UTF-16 when it starts with
// a UTF-16 byte-order mark, as UTF-8 when it starts with the UTF-8 mark or is valid UTF-8, else
// as Windows-1252. Values come back as UTF-8.
class IniFile {
 public:
  static constexpr std::int64_t kMaxValueLength = 2047;
  static constexpr std::int64_t kMaxFileBytes = 1024 * 1024;

  explicit IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;

 private:
  std::string fileName_;
};

// The whole content of an INI file decoded to UTF-8 by the rules above.
std::string DecodeIniText(std::string_view bytes);
// The file's content decoded so; empty for a file that cannot be read; raises for one over
// kMaxFileBytes.
std::string ReadIniText(const std::string& fileName);

}  // namespace korvane::platform
