#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/QelDBUtility.h"
#include "platform/Process.h"

namespace korvane {

class TIBDatabase;

// The user the tool works for: owns the connection to the users database, holds the user's
// row and the company of the run, and reads the user's per-company software parameters.
class TQelUser {
 public:
  // Every connection to the users database logs in with `login`.
  explicit TQelUser(config::DatabaseLogin login = {});
  // Closes the users database.
  ~TQelUser();
  TQelUser(const TQelUser&) = delete;
  TQelUser& operator=(const TQelUser&) = delete;

  std::int32_t CodiceUtente() const { return FCodiceUtente; }
  const std::string& NomeUtente() const { return FNomeUtente; }
  const std::string& DittaUtente() const { return FDittaUtente; }
  void SetDittaUtente(std::string ditta) { FDittaUtente = std::move(ditta); }

  // Opens the users database file, redirected by the dati.ini beside it.
  void ConnettiDB(const TFileName& fileName);

  // Loads the user's row; raises "Utente <code> non trovato" when there is none.
  void SetCodiceUtente(std::int32_t valore);
  // Raises "Password errata" unless the text equals the stored password exactly. Part of the
  // user's interface, which the import never calls: a run is not given the user's password.
  void CheckPassword(const std::string& valore) const;
  // The value of the software parameter for the current user and company; empty when missing.
  // "Archivio" names the company's archive as the firm's desktops see it, and comes back as this
  // server reaches it: a desktop's drive or share is translated by the path map beside the users
  // database (config/PathMap.h).
  std::string GetParamSoftDes(const std::string& nome);

  TIBDatabase& DBUser() { return *FDBUser; }

 private:
  std::int32_t FCodiceUtente = 0;
  std::string FNomeUtente;
  std::string FDittaUtente;
  std::string FPasswordUtente;
  std::unique_ptr<TIBDatabase> FDBUser;
  config::DatabaseLogin login_;
  std::string usersDatabaseFile_;
};

// Where user.fdb is: "<program folder>/user/user.fdb", else the "user" folder beside the
// program folder when only that one exists. Only the folders are tested.
std::string GetUserDatabasePath(const std::string& programFilePath = platform::ProgramFilePath());

}  // namespace korvane

namespace korvane::config {

// The lines of the software-parameter read, the texts placed between apostrophes.
std::vector<std::string> ParamSoftDesSQL(std::int32_t codiceUtente, const std::string& ditta, const std::string& nome);

}  // namespace korvane::config
