#include "platform/PathKinds.h"

namespace korvane::platform {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsInvalidPathCharacter(unsigned char c) { return c < 32 || c == '"' || c == '<' || c == '>' || c == '|'; }
bool StartsWithDrive(std::string_view path) { return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':'; }

constexpr std::string_view kLongUncPrefix = "\\\\?\\UNC\\";

}  // namespace

bool IsDriveLetterPath(std::string_view path) {
  return StartsWithDrive(path) && (path.size() == 2 || IsSeparator(path[2]));
}

bool IsDriveRelativePath(std::string_view path) { return StartsWithDrive(path) && !IsDriveLetterPath(path); }

bool IsNetworkPath(std::string_view path) {
  if (path.size() < 3 || !path.starts_with("\\\\")) return false;
  if (path.starts_with("\\\\?\\")) return path.starts_with(kLongUncPrefix);
  const auto third = static_cast<unsigned char>(path[2]);
  return third != '?' && !IsInvalidPathCharacter(third);
}

std::optional<HostAndRest> SplitNetworkPath(std::string_view path) {
  if (!IsNetworkPath(path)) return std::nullopt;
  const std::string_view afterPrefix = path.substr(path.starts_with(kLongUncPrefix) ? kLongUncPrefix.size() : 2);
  const std::size_t slash = afterPrefix.find('\\');
  if (slash == std::string_view::npos || slash == 0) return std::nullopt;
  return HostAndRest{std::string(afterPrefix.substr(0, slash)), std::string(afterPrefix.substr(slash + 1))};
}

bool HasHostPart(std::string_view connectionString) { return connectionString.find(':') != std::string_view::npos; }

}  // namespace korvane::platform
