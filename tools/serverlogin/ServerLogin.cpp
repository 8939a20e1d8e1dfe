#include "serverlogin/ServerLogin.h"

#include <fstream>
#include <stdexcept>

namespace korvane::serverlogin {

namespace {

std::string ReadPassword() {
  std::ifstream file(kPasswordFile);
  std::string password;
  std::getline(file, password);
  if (password.empty()) {
    throw std::runtime_error(std::string("no test server password in ") + kPasswordFile +
                             " (start the server with scripts/firebird-server start, as root)");
  }
  return password;
}

}  // namespace

const std::string& Password() {
  static const std::string password = ReadPassword();
  return password;
}

std::optional<std::string> PasswordIfAny() {
  try {
    return Password();
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

}  // namespace korvane::serverlogin
