#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "server/AddressList.h"
#include "server/ConnectionGate.h"

// The service's settings: one file of "Name = value" lines, only the service's user reads it.
namespace korvane::server {

inline constexpr const char* kDefaultSettingsFile = "/etc/korvane-server/korvane-server.conf";

struct Settings {
  std::string address = "0.0.0.0";                             // Indirizzo
  int port = 8443;                                             // Porta
  std::string certificate = "/etc/korvane-server/server.crt";  // Certificato (PEM, with its chain)
  std::string privateKey = "/etc/korvane-server/server.key";   // ChiavePrivata (PEM)
  std::string keysFile = "/etc/korvane-server/desktop-keys";   // ChiaviDesktop
  std::string program = "/opt/korvane/bin/korvane";            // Programma
  std::string stateFolder = "/var/lib/korvane-server";  // CartellaStato (the nonces seen; the unit's StateDirectory)
  std::size_t maxRunning = 4;                           // ImportazioniContemporanee
  std::size_t queueLength = 16;                         // Coda
  std::chrono::milliseconds queueWait = std::chrono::seconds(30);     // AttesaInCoda (s)
  std::chrono::milliseconds importLimit = std::chrono::seconds(180);  // DurataMassima (s)
  AddressList allowedClients;                                         // IndirizziAmmessi
  // ConnessioniPerIndirizzo, ConnessioniSenzaChiave; the deadlines are fixed.
  ConnectionLimits connections;
  // The importer's whole environment, "NAME=value" each (see ImporterEnvironment).
  std::vector<std::string> importerEnvironment;

  // Blank lines and lines starting with "#" or ";" are comments; names match without regard to
  // letter case. Raises, naming the file and the line, on an unknown name or a value out of range.
  static Settings Parse(std::string_view text, const std::string& fileName);
  static Settings Load(const std::string& fileName);
};

// The environment the importer runs with, taken from the service's own (which systemd fills from
// the environment file of korvane's token): every KORVANE_* variable (the token, the database
// login, the registry's address, the trace, ...), the proxy and trust-store variables korvane
// reads, TZ and the embedded engine's FIREBIRD_LOCK; PATH is a fixed system one. Nothing else of
// the service's environment reaches it.
std::vector<std::string> ImporterEnvironment(const char* const* environment);

}  // namespace korvane::server
