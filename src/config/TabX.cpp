#include "config/TabX.h"

#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"

namespace korvane {

std::string GetTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente) {
  std::string result;
  TIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&database.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot));
  query.Close();
  query.ClearSQL();
  query.AddLine("SELECT TESTO FROM TABX");
  query.AddLine("WHERE (NOME='" + DoubleApostrophes(nome) + "')");
  if (filtroUtente >= 0) query.AddLine("AND(UTENTE='" + std::to_string(filtroUtente) + "')");
  query.Open();
  if (query.RecordCount() > 0) result = query.Fields(0).AsString();
  return result;
}

}  // namespace korvane
