#include "config/QelUser.h"

#include <cstdio>

#include "config/PathMap.h"
#include "config/PathTerms.h"
#include "config/ReadTransaction.h"
#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

// The folder of the program file, a path of this machine.
std::string ProgramFolder(const std::string& programFilePath) {
  return config::FolderPart(programFilePath, config::kLocalSeparators);
}

}  // namespace

TQelUser::TQelUser(config::DatabaseLogin login) : FDBUser(std::make_unique<TIBDatabase>()), login_(std::move(login)) {}

TQelUser::~TQelUser() = default;

void TQelUser::ConnettiDB(const TFileName& fileName) {
  usersDatabaseFile_ = fileName;
  OpenIBDatabaseFile(*FDBUser, fileName, login_);
}

void TQelUser::SetCodiceUtente(std::int32_t valore) {
  struct UserRow {
    std::int32_t codice = 0;
    std::string nome, ditta, password;
  };
  // Read with the server's default transaction, the statement sent as written.
  const UserRow row = config::ReadInTransaction(*FDBUser, TIBTransactionLevel::ibtrDefault, [&](TIBSQL& sql) {
    sql.SetParamCheck(false);
    sql.AddLine("SELECT * FROM UTENTI WHERE CODICE=" + std::to_string(valore));
    sql.ExecQuery();
    if (sql.Eof()) throw Exception("Utente " + std::to_string(valore) + " non trovato");
    return UserRow{sql.FieldByName("CODICE").AsInteger(), sql.FieldByName("NOMEUTENTE").AsString(),
                   sql.FieldByName("DITTA").AsString(), sql.FieldByName("PWDUTENTE").AsString()};
  });
  FCodiceUtente = row.codice;
  FNomeUtente = row.nome;
  FDittaUtente = row.ditta;
  FPasswordUtente = row.password;
}

void TQelUser::CheckPassword(const std::string& valore) const {
  if (valore != FPasswordUtente) throw Exception("Password errata");
}

std::string TQelUser::GetParamSoftDes(const std::string& nome) {
  const std::string valore = config::ReadInTransaction(*FDBUser, TIBTransactionLevel::ibtrDefault, [&](TIBSQL& sql) {
    sql.SetParamCheck(false);
    for (const std::string& line : config::ParamSoftDesSQL(FCodiceUtente, FDittaUtente, nome)) sql.AddLine(line);
    sql.ExecQuery();
    return sql.Eof() ? std::string() : sql.Fields(0).AsString();
  });
  if (nome == "Archivio") return config::ServerArchivePath(valore, config::PathMapFileName(usersDatabaseFile_));
  return valore;
}

std::vector<std::string> config::ParamSoftDesSQL(std::int32_t codiceUtente, const std::string& ditta,
                                                 const std::string& nome) {
  return {"SELECT", "  VALORE",
          "FROM",   "  TABSOFTDES",
          "WHERE",  "  UTENTE=" + std::to_string(codiceUtente),
          "  AND",  "  INTESTAZIONE='" + DoubleApostrophes(ditta) + "'",
          "  AND",  "  PARAMETRO='" + DoubleApostrophes(nome) + "'"};
}

std::string GetUserDatabasePath(const std::string& programFilePath) {
  const std::string folder = ProgramFolder(programFilePath);
  const std::string first = folder + "user";
  std::string chosen = first;
  if (!platform::DirectoryExists(first)) {
    std::string parent = folder.empty() ? folder : folder.substr(0, folder.size() - 1);
    const std::size_t slash = parent.find_last_of('/');
    parent = slash == std::string::npos ? std::string() : parent.substr(0, slash);
    const std::string second = parent + "/user";
    if (platform::DirectoryExists(second)) chosen = second;
  }
  return chosen + "/user.fdb";
}

}  // namespace korvane
