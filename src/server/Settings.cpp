#include "server/Settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>

#include "platform/Exception.h"
#include "platform/Text.h"
#include "server/PrivateFile.h"

namespace korvane::server {

namespace {

constexpr std::array<std::string_view, 10> kPassedVariables = {
    "https_proxy",  "HTTPS_PROXY", "no_proxy",      "NO_PROXY",     "SSL_CERT_FILE",
    "SSL_CERT_DIR", "TZ",          "FIREBIRD_LOCK", "FIREBIRD_TMP", "LANG"};
constexpr std::string_view kImporterPath = "PATH=/usr/local/bin:/usr/bin:/bin";

std::size_t Number(std::string_view value, std::size_t low, std::size_t high) {
  std::size_t number = 0;
  const auto parsed = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || number < low ||
      number > high) {
    throw Exception("atteso un numero da " + std::to_string(low) + " a " + std::to_string(high));
  }
  return number;
}

std::string Path(std::string_view value) {
  if (!value.starts_with('/')) throw Exception("atteso un percorso assoluto");
  return std::string(value);
}

using Setter = std::function<void(Settings&, std::string_view)>;

const std::array<std::pair<std::string_view, Setter>, 14>& Setters() {
  using std::chrono::seconds;
  static const std::array<std::pair<std::string_view, Setter>, 14> setters = {{
      {"Indirizzo", [](Settings& s, std::string_view v) { s.address = v; }},
      {"Porta", [](Settings& s, std::string_view v) { s.port = static_cast<int>(Number(v, 1, 65535)); }},
      {"Certificato", [](Settings& s, std::string_view v) { s.certificate = Path(v); }},
      {"ChiavePrivata", [](Settings& s, std::string_view v) { s.privateKey = Path(v); }},
      {"ChiaviDesktop", [](Settings& s, std::string_view v) { s.keysFile = Path(v); }},
      {"Programma", [](Settings& s, std::string_view v) { s.program = Path(v); }},
      {"CartellaStato", [](Settings& s, std::string_view v) { s.stateFolder = Path(v); }},
      {"ImportazioniContemporanee", [](Settings& s, std::string_view v) { s.maxRunning = Number(v, 1, 64); }},
      {"Coda", [](Settings& s, std::string_view v) { s.queueLength = Number(v, 0, 1000); }},
      {"AttesaInCoda", [](Settings& s, std::string_view v) { s.queueWait = seconds(Number(v, 1, 3600)); }},
      {"DurataMassima", [](Settings& s, std::string_view v) { s.importLimit = seconds(Number(v, 1, 3600)); }},
      {"IndirizziAmmessi", [](Settings& s, std::string_view v) { s.allowedClients = AddressList::Parse(v); }},
      {"ConnessioniPerIndirizzo",
       [](Settings& s, std::string_view v) { s.connections.perAddress = Number(v, 1, 1000); }},
      {"ConnessioniSenzaChiave", [](Settings& s, std::string_view v) { s.connections.total = Number(v, 1, 1000); }},
  }};
  return setters;
}

}  // namespace

Settings Settings::Parse(std::string_view text, const std::string& fileName) {
  Settings settings;
  const std::vector<std::string_view> lines = platform::SettingsLines(text);
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const std::string_view line = lines[index];
    const std::size_t number = index + 1;
    if (line.empty()) continue;
    const auto fail = [&](const std::string& why) {
      throw Exception("Riga " + std::to_string(number) + " di " + fileName + ": " + why);
    };
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) fail("atteso \"Nome = valore\"");
    const std::string_view name = platform::TrimIniBlanks(line.substr(0, equals));
    const std::string_view value = platform::TrimIniBlanks(line.substr(equals + 1));
    const auto& setters = Setters();
    const auto setter = std::find_if(setters.begin(), setters.end(),
                                     [&](const auto& entry) { return platform::SameTextAscii(entry.first, name); });
    if (setter == setters.end()) fail("impostazione sconosciuta \"" + std::string(name) + "\"");
    try {
      setter->second(settings, value);
    } catch (const Exception& error) {
      fail(std::string(setter->first) + ": " + error.Message());
    }
  }
  return settings;
}

Settings Settings::Load(const std::string& fileName) { return Parse(ReadWholeFile(fileName), fileName); }

std::vector<std::string> ImporterEnvironment(const char* const* environment) {
  std::vector<std::string> result{std::string(kImporterPath)};
  for (const char* const* entry = environment; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    if (name.size() == variable.size()) continue;
    if (name.starts_with("KORVANE_") ||
        std::find(kPassedVariables.begin(), kPassedVariables.end(), name) != kPassedVariables.end()) {
      result.emplace_back(variable);
    }
  }
  return result;
}

}  // namespace korvane::server
