#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The desktop's settings: korvane.ini beside korvane.exe, then the environment variables that
// override it.
namespace korvane::winclient {

using Digest = std::array<unsigned char, 32>;

// One setting's text as found, and where: "korvane.ini [Server] Indirizzo" or the variable's name.
struct SettingText {
  std::string value;
  std::string source;
};

struct SettingTexts {
  SettingText address;  // [Server] Indirizzo, KORVANE_SERVER_URL
  SettingText pin;      // [Server] Impronta, KORVANE_SERVER_PIN
  SettingText wait;     // [Server] Attesa, KORVANE_SERVER_WAIT
  SettingText keyName;  // [Desktop] Nome, KORVANE_KEY_NAME
  SettingText key;      // [Desktop] Chiave, KORVANE_KEY
};

// The settings that korvane.ini's bytes (as on disk: UTF-16 with its byte-order mark, UTF-8 with
// or without it, or an ANSI code page) name. Read by the rules of Windows' profile files: section
// and key names without regard to letter case, blanks around names and values ignored, one pair
// of matching quotes around a value removed, ";" and "#" lines are comments, the first
// occurrence counts.
SettingTexts ReadIniSettings(std::string_view fileBytes);

// A variable that is set and not empty replaces the file's value. `lookup` gives a variable's
// value as UTF-8, or nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
void ApplyEnvironment(SettingTexts& settings, const EnvironmentLookup& lookup);

inline constexpr int kDefaultWaitSeconds = 240;
inline constexpr int kMaxWaitSeconds = 3600;

// The settings of one run, checked.
struct DesktopSettings {
  std::string host;    // a name, an IPv4 address, or an IPv6 address without brackets
  std::uint16_t port;  // 443 when the address names none
  std::string server;  // host and port as messages name the server
  std::optional<Digest> pin;
  std::string keyName;
  Digest key;
  int waitSeconds;
};

// Raises ClientError naming the first setting that is missing or not valid (never a key's value).
DesktopSettings CheckSettings(const SettingTexts& settings);

// Parses a digest written as 64 hexadecimal digits, in either letter case; with `separators`, ':'
// and blanks may stand between them.
std::optional<Digest> ParseDigest(std::string_view text, bool separators);

}  // namespace korvane::winclient
