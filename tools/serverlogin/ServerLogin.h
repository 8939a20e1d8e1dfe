#pragma once

// The login of the local test database server, for the tests and the soak: SYSDBA with a password
// generated on this machine by scripts/firebird-server (never the program's built-in one, never
// in the repository).

#include <optional>
#include <string>

namespace korvane::serverlogin {

inline constexpr const char* kUser = "SYSDBA";
// Readable only by root; its first line is the password.
inline constexpr const char* kPasswordFile = "/var/lib/korvane-tests/sysdba.password";

// The password, read once. Throws std::runtime_error naming the file when it cannot be read or
// holds no password (the server was never started with scripts/firebird-server).
const std::string& Password();
// The password when there is one, else nothing.
std::optional<std::string> PasswordIfAny();

}  // namespace korvane::serverlogin
