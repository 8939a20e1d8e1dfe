#include "winclient/Settings.h"

#include <array>
#include <charconv>
#include <map>
#include <utility>

#include "winclient/ClientError.h"
#include "winclient/Text.h"

namespace korvane::winclient {

namespace {

struct SettingName {
  std::string_view section;
  std::string_view key;
  const char* variable;
  SettingText SettingTexts::*member;
};

constexpr std::array<SettingName, 5> kSettingNames = {{
    {"Server", "Indirizzo", "KORVANE_SERVER_URL", &SettingTexts::address},
    {"Server", "Impronta", "KORVANE_SERVER_PIN", &SettingTexts::pin},
    {"Server", "Attesa", "KORVANE_SERVER_WAIT", &SettingTexts::wait},
    {"Desktop", "Nome", "KORVANE_KEY_NAME", &SettingTexts::keyName},
    {"Desktop", "Chiave", "KORVANE_KEY", &SettingTexts::key},
}};

constexpr std::string_view kNothingRan = ": nessuna importazione eseguita";

std::string IniSource(const SettingName& name) {
  return "korvane.ini [" + std::string(name.section) + "] " + std::string(name.key);
}

const SettingName& NameOf(SettingText SettingTexts::*member) {
  for (const SettingName& name : kSettingNames) {
    if (name.member == member) return name;
  }
  throw std::logic_error("unnamed setting");
}

[[noreturn]] void RaiseMissing(SettingText SettingTexts::*member) {
  const SettingName& name = NameOf(member);
  throw ClientError("Impostazione mancante (" + IniSource(name) + " o " + name.variable + ")" +
                    std::string(kNothingRan));
}

[[noreturn]] void RaiseInvalid(const SettingText& setting) {
  throw ClientError("Impostazione non valida (" + setting.source + " = " + TextForMessage(setting.value) + ")" +
                    std::string(kNothingRan));
}

// The value stays out of the message: it is the desktop's secret.
[[noreturn]] void RaiseInvalidSecret(const SettingText& setting) {
  throw ClientError("Impostazione non valida (" + setting.source + ": 64 cifre esadecimali)" +
                    std::string(kNothingRan));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<int> DecimalNumber(std::string_view text, int maximum) {
  int value = 0;
  if (text.empty() || text.size() > 5) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > maximum) return std::nullopt;
  return value;
}

struct Address {
  std::string host;
  std::uint16_t port = 443;
  std::string server;
};

bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '-' && c != '.' && c != '_') return false;
  }
  return true;
}

bool IsIpv6Literal(std::string_view host) {
  if (host.size() < 2) return false;
  for (char c : host) {
    if (HexValue(c) < 0 && c != ':' && c != '.') return false;
  }
  return true;
}

// "https://host[:port][/]": the service answers at a fixed path, so the address names no other.
std::optional<Address> ParseAddress(std::string_view text) {
  constexpr std::string_view kScheme = "https://";
  if (text.size() < kScheme.size() || AsciiUpperCase(text.substr(0, kScheme.size())) != "HTTPS://") {
    return std::nullopt;
  }
  std::string_view authority = text.substr(kScheme.size());
  if (authority.ends_with('/')) authority.remove_suffix(1);
  Address address;
  std::string_view portText;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    address.host = authority.substr(1, close - 1);
    if (!IsIpv6Literal(address.host)) return std::nullopt;
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return std::nullopt;
    if (!rest.empty()) portText = rest.substr(1);
    address.server.append("[").append(address.host).append("]");
  } else {
    const std::size_t colon = authority.find(':');
    address.host = authority.substr(0, colon);
    if (!IsHostName(address.host)) return std::nullopt;
    if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    address.server = address.host;
  }
  if (!portText.empty() || authority.ends_with(':')) {
    const std::optional<int> port = DecimalNumber(portText, 65535);
    if (!port) return std::nullopt;
    address.port = static_cast<std::uint16_t>(*port);
  }
  address.server.append(":").append(std::to_string(address.port));
  return address;
}

bool IsKeyName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

}  // namespace

SettingTexts ReadIniSettings(std::string_view fileBytes) {
  // Every "section\nkey" the file names, with its first value.
  std::map<std::string, std::string> values;
  const std::string text = ProfileTextToUtf8(fileBytes);
  std::string section;
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    std::size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string_view line = TrimBlanks(std::string_view(text).substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) section = AsciiUpperCase(TrimBlanks(line.substr(1, close - 1)));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string key = section + "\n" + AsciiUpperCase(TrimBlanks(line.substr(0, equals)));
    values.emplace(key, Unquoted(TrimBlanks(line.substr(equals + 1))));
  }

  SettingTexts settings;
  for (const SettingName& name : kSettingNames) {
    SettingText& setting = settings.*name.member;
    setting.source = IniSource(name);
    const auto found = values.find(AsciiUpperCase(name.section) + "\n" + AsciiUpperCase(name.key));
    if (found != values.end()) setting.value = found->second;
  }
  return settings;
}

void ApplyEnvironment(SettingTexts& settings, const EnvironmentLookup& lookup) {
  for (const SettingName& name : kSettingNames) {
    std::optional<std::string> value = lookup(name.variable);
    if (!value || value->empty()) continue;
    settings.*name.member = SettingText{std::move(*value), name.variable};
  }
}

std::optional<Digest> ParseDigest(std::string_view text, bool separators) {
  Digest digest{};
  std::size_t digits = 0;
  for (char c : text) {
    if (separators && (c == ':' || IsBlank(c))) continue;
    const int value = HexValue(c);
    if (value < 0 || digits >= 2 * digest.size()) return std::nullopt;
    digest[digits / 2] = static_cast<unsigned char>(digest[digits / 2] << 4 | value);
    ++digits;
  }
  if (digits != 2 * digest.size()) return std::nullopt;
  return digest;
}

DesktopSettings CheckSettings(const SettingTexts& texts) {
  DesktopSettings settings{};

  if (TrimBlanks(texts.address.value).empty()) RaiseMissing(&SettingTexts::address);
  const std::optional<Address> address = ParseAddress(TrimBlanks(texts.address.value));
  if (!address) RaiseInvalid(texts.address);
  settings.host = address->host;
  settings.port = address->port;
  settings.server = address->server;

  if (!TrimBlanks(texts.pin.value).empty()) {
    settings.pin = ParseDigest(texts.pin.value, true);
    if (!settings.pin) RaiseInvalid(texts.pin);
  }

  settings.waitSeconds = kDefaultWaitSeconds;
  if (!TrimBlanks(texts.wait.value).empty()) {
    const std::optional<int> wait = DecimalNumber(TrimBlanks(texts.wait.value), kMaxWaitSeconds);
    if (!wait) RaiseInvalid(texts.wait);
    settings.waitSeconds = *wait;
  }

  settings.keyName = TrimBlanks(texts.keyName.value);
  if (settings.keyName.empty()) RaiseMissing(&SettingTexts::keyName);
  if (!IsKeyName(settings.keyName)) RaiseInvalid(texts.keyName);

  if (TrimBlanks(texts.key.value).empty()) RaiseMissing(&SettingTexts::key);
  const std::optional<Digest> key = ParseDigest(TrimBlanks(texts.key.value), false);
  if (!key) RaiseInvalidSecret(texts.key);
  settings.key = *key;
  return settings;
}

}  // namespace korvane::winclient
