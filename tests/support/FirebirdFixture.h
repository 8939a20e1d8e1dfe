#pragma once

// Real Firebird databases for tests, made and read with isql-fb.

#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace korvane::testing {

// Full path of a script under tests/fixtures (e.g. "users.sql", "archive.sql").
std::string FixtureScript(const std::string& name);

// Creates a new database file at `path` (character set NONE, the given dialect) and runs the
// statements of the script in it. Each script and dialect is built once per test process and
// copied after that. Throws std::runtime_error with isql's output on failure.
void CreateDatabase(const std::string& path, const std::string& sqlScriptFile, int dialect = 3);

// Runs SQL statements (ended by ";") against a database with isql-fb, as SYSDBA, and commits.
// A plain path goes through the embedded engine, "localhost:..." through the server (with the
// test server's password). Returns
// isql's standard output as raw bytes; throws std::runtime_error when isql fails.
std::string RunIsql(const std::string& database, const std::string& sql);

// The rows of a SELECT of one column, decoded from Windows-1252, one entry per row, with the
// padding isql adds cut off. NULL reads "<null>". Wrap a value ('[' || X || ']') to see blanks.
std::vector<std::string> QueryColumn(const std::string& database, const std::string& select);

// Makes the file (and its folder) readable and writable by the database server's user.
void GrantServerAccess(const std::string& path);

// Adds "alias = path" to the local server's alias file for the life of the object. The server
// notices a changed file by its modification time in whole seconds, so every change moves that
// time on by at least a second; two changes within one second would otherwise go unseen.
// Tests that use it hold the CTest resource lock "firebird_alias_file".
class ServerAlias {
 public:
  ServerAlias(const std::string& alias, const std::string& path);
  ~ServerAlias();
  ServerAlias(const ServerAlias&) = delete;
  ServerAlias& operator=(const ServerAlias&) = delete;

 private:
  std::string line_;
};

// A user of the local server, made for one test through the server by its administrator (on a
// database of its own), who drops it again when the object goes. The name is unique to the
// process and the object.
class ServerUser {
 public:
  explicit ServerUser(std::string password);
  ~ServerUser();
  ServerUser(const ServerUser&) = delete;
  ServerUser& operator=(const ServerUser&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Password() const { return password_; }
  // Gives the user every right on these tables of a database (run through the embedded engine).
  void GrantTables(const std::string& databaseFile, const std::vector<std::string>& tables) const;

 private:
  TempDir folder_;
  std::string database_;
  std::string name_;
  std::string password_;
};

// The login every connection of the tool uses unless a run is given another. The embedded engine
// checks no password; the local test server does not accept this one (ServerLoginEnvironment).
inline constexpr const char* kUserName = "SYSDBA";
inline constexpr const char* kBuiltInPassword = "brackenly";

// Whether tests reach a database of this name through the local server: any name but an
// absolute path (the engine in the process opens those).
inline bool ThroughServer(const std::string& name) { return !name.empty() && name.front() != '/'; }

// The variables that give a run of the program the local test server's login (SYSDBA with the
// password generated on this machine): every run that reaches a database through that server.
std::map<std::string, std::string> ServerLoginEnvironment();

}  // namespace korvane::testing
