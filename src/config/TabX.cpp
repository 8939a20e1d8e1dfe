#include "config/TabX.h"

#include "config/ReadTransaction.h"
#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"

namespace korvane {

std::vector<std::string> config::TabXSQL(const std::string& nome, std::int32_t filtroUtente) {
  std::vector<std::string> lines{"SELECT TESTO FROM TABX", "WHERE (NOME='" + DoubleApostrophes(nome) + "')"};
  // The user code is compared as a quoted text, as the column holds text.
  if (filtroUtente >= 0) lines.push_back("AND(UTENTE='" + std::to_string(filtroUtente) + "')");
  return lines;
}

std::string GetTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente) {
  std::string result;
  TIBQuery query;
  query.SetDatabase(&database);
  // Left open on purpose, owned by the connection: the interface's own description of this read.
  query.SetTransaction(&database.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot));
  query.Close();
  query.ClearSQL();
  for (const std::string& line : config::TabXSQL(nome, filtroUtente)) query.AddLine(line);
  query.Open();
  if (query.RecordCount() > 0) result = query.Fields(0).AsString();
  return result;
}

std::string config::ReadTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente) {
  return ReadInTransaction(database, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    for (const std::string& line : TabXSQL(nome, filtroUtente)) sql.AddLine(line);
    sql.ExecQuery();
    return sql.Eof() ? std::string() : sql.Fields(0).AsString();
  });
}

}  // namespace korvane
