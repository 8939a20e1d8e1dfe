#include "server/CommandLine.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

#include "platform/Exception.h"

namespace korvane::server {

namespace {

constexpr const char* kUsage =
    "Uso:\n"
    "  korvane-server run [--config FILE]\n"
    "      il servizio per i desktop Windows: HTTPS, una importazione per richiesta firmata\n"
    "  korvane-server certificate --name HOST [--dns NOME]... [--ip INDIRIZZO]... [--days N] [--force]\n"
    "                             [--config FILE]\n"
    "      crea un certificato autofirmato e la sua chiave nei file delle impostazioni\n"
    "      (Certificato, ChiavePrivata) e ne stampa l'impronta SHA-256 per korvane.ini\n"
    "  korvane-server fingerprint [--config FILE]\n"
    "      stampa l'impronta SHA-256 del certificato in uso\n"
    "  korvane-server key add NOME [--config FILE]\n"
    "      crea la chiave di un desktop e la stampa (una volta sola)\n"
    "  korvane-server key revoke NOME [--config FILE]\n"
    "  korvane-server key list [--config FILE]\n"
    "  korvane-server --help | --version\n"
    "Impostazioni: ";

bool IsHostName(const std::string& name) {
  return !name.empty() && name.size() <= 253 && name.front() != '-' && name.front() != '.' &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
         });
}

bool IsAddress(const std::string& text) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

}  // namespace

std::string UsageText() { return std::string(kUsage) + kDefaultSettingsFile + "\n"; }

Command ReadCommandLine(const std::vector<std::string>& arguments) {
  Command command;
  const auto unexpected = [](const std::string& what) -> Exception {
    return Exception("Argomento non previsto: " + what + " (korvane-server --help)");
  };
  if (arguments.empty()) throw Exception("Manca il comando (korvane-server --help)");
  std::size_t next = 1;
  const std::string& verb = arguments[0];
  if (verb == "--help" || verb == "-h") {
    command.kind = Command::Kind::Help;
  } else if (verb == "--version") {
    command.kind = Command::Kind::Version;
  } else if (verb == "run") {
    command.kind = Command::Kind::Run;
  } else if (verb == "certificate") {
    command.kind = Command::Kind::Certificate;
  } else if (verb == "fingerprint") {
    command.kind = Command::Kind::Fingerprint;
  } else if (verb == "key" && arguments.size() >= 2 && arguments[1] == "list") {
    command.kind = Command::Kind::KeyList;
    next = 2;
  } else if (verb == "key" && arguments.size() >= 3 && (arguments[1] == "add" || arguments[1] == "revoke")) {
    command.kind = arguments[1] == "add" ? Command::Kind::KeyAdd : Command::Kind::KeyRevoke;
    command.name = arguments[2];
    next = 3;
  } else {
    throw unexpected(verb);
  }
  const bool certificate = command.kind == Command::Kind::Certificate;
  for (std::size_t i = next; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (option == "--config" && hasValue) {
      command.settingsFile = arguments[++i];
    } else if (certificate && option == "--name" && hasValue) {
      command.name = arguments[++i];
    } else if (certificate && option == "--dns" && hasValue) {
      command.dnsNames.push_back(arguments[++i]);
    } else if (certificate && option == "--ip" && hasValue) {
      command.ipAddresses.push_back(arguments[++i]);
    } else if (certificate && option == "--days" && hasValue) {
      const std::string& value = arguments[++i];
      const auto parsed = std::from_chars(value.data(), value.data() + value.size(), command.days);
      if (parsed.ec != std::errc() || parsed.ptr != value.data() + value.size() || command.days < 1 ||
          command.days > 36500) {
        throw Exception("--days: atteso un numero di giorni da 1 a 36500");
      }
    } else if (certificate && option == "--force") {
      command.force = true;
    } else {
      throw unexpected(option);
    }
  }
  if (certificate && command.name.empty()) throw Exception("certificate: manca --name HOST");
  return command;
}

std::string SubjectAltNames(const Command& command) {
  std::vector<std::string> names{command.name};
  names.insert(names.end(), command.dnsNames.begin(), command.dnsNames.end());
  std::string text;
  for (const std::string& name : names) {
    if (!IsHostName(name)) throw Exception("Nome non valido per il certificato: " + name);
    text += (text.empty() ? "DNS:" : ",DNS:") + name;
  }
  for (const std::string& address : command.ipAddresses) {
    if (!IsAddress(address)) throw Exception("Indirizzo non valido per il certificato: " + address);
    text += ",IP:" + address;
  }
  return text;
}

}  // namespace korvane::server
