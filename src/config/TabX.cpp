#include "config/TabX.h"

#include "config/ReadTransaction.h"
#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"

namespace korvane {

std::vector<std::string> config::TabXSQL(const std::string& nome, std::int32_t filtroUtente) {
  std::vector<std::string> lines{"SELECT TESTO FROM TABX", "WHERE (NOME='" + DoubleApostrophes(nome) + "')"};
  // The user code is compared as a quoted text, as the column holds text.
  if (filtroUtente >= 0) lines.push_back("AND(UTENTE='" + std::to_string(filtroUtente) + "')");
  return lines;
}

std::string GetTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente) {
  return config::ReadTabXValue(database, nome, filtroUtente);
}

std::string config::ReadTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente) {
  return ReadInTransaction(database, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    for (const std::string& line : TabXSQL(nome, filtroUtente)) sql.AddLine(line);
    sql.ExecQuery();
    return sql.Eof() ? std::string() : sql.Fields(0).AsString();
  });
}

}  // namespace korvane
