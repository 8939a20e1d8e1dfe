#pragma once

#include <string>

namespace korvane {

class TIBDatabase;

using TFileName = std::string;
using TIBFileName = std::string;

// Where a database lives and how the server reaches it: the file path the caller knows and the
// server settings of the dati.ini beside that file.
struct TDBConnectionInfo {
  TFileName FileName;
  std::string NomeServer;
  std::string LetteraDiscoServer;  // the drive letter alone, without colon
  std::string PercorsoDatabase;
  std::string Alias;

  // Overwrites the four server fields from the section of the INI file (empty when missing).
  void LoadFromIniFile(const std::string& fileName, const std::string& section);
  // The connection string for the database client. Raises when a server is named without
  // alias, drive letter or path.
  TIBFileName GetIBFileName() const;
};

using PDBConnectionInfo = const TDBConnectionInfo*;

}  // namespace korvane

namespace korvane::config {

// The user name and password a connection logs in with: the built-in ones unless the run was
// given others.
struct DatabaseLogin {
  std::string user = "SYSDBA";
  std::string password = "brackenly";
};

}  // namespace korvane::config

namespace korvane {

// Opens the database file, redirected by the dati.ini beside it when there is one.
void OpenIBDatabaseFile(TIBDatabase& database, const TFileName& fileName, const config::DatabaseLogin& login = {});
// Opens the database on the descriptor's connection string with the login (the built-in one
// unless another is given).
void OpenIBDatabase(TIBDatabase& database, const TDBConnectionInfo& info, const config::DatabaseLogin& login = {});

}  // namespace korvane

namespace korvane::config {

// The settings file looked for beside a database file ("dati.ini" alone for a bare name,
// which is then looked for in the current directory).
std::string SettingsFileName(const std::string& databaseFileName);

}  // namespace korvane::config
