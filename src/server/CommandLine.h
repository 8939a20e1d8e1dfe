#pragma once

#include <string>
#include <vector>

#include "server/Settings.h"

// korvane-server's commands, read once from the command line.
namespace korvane::server {

struct Command {
  enum class Kind { Run, Certificate, Fingerprint, KeyAdd, KeyRevoke, KeyList, Help, Version };
  Kind kind = Kind::Help;
  std::string settingsFile = kDefaultSettingsFile;
  std::string name;  // the key's name; the certificate's host name
  std::vector<std::string> dnsNames;
  std::vector<std::string> ipAddresses;
  int days = 3650;
  bool force = false;
};

// Raises with a one-line message on anything it does not take.
Command ReadCommandLine(const std::vector<std::string>& arguments);

std::string UsageText();

// The certificate's alternative names: the host name and every other name as DNS names (a client
// that checks names, and wine's TLS, refuse a certificate whose only names are addresses), then
// the addresses. Raises for a name or an address that cannot stand there.
std::string SubjectAltNames(const Command& command);

}  // namespace korvane::server
