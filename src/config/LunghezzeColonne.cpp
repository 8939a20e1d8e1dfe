#include "config/LunghezzeColonne.h"

#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBXSQLVAR.h"

namespace korvane::config {

std::map<std::string, std::int32_t> LunghezzeColonneTesto(TIBDatabase& database, const std::string& tabella,
                                                          const std::vector<std::string>& colonne) {
  std::map<std::string, std::int32_t> lunghezze;
  if (colonne.empty()) return lunghezze;
  std::string nomi;
  for (const std::string& colonna : colonne) {
    nomi += (nomi.empty() ? "'" : ", '") + DoubleApostrophes(colonna) + "'";
  }
  TIBSQL sql(&database);
  TIBTransaction& transaction = sql.OwnTransaction(std::make_unique<TIBTransaction>(&database));
  sql.SetParamCheck(false);
  // Field types 14 and 37 are CHAR and VARCHAR; a database from an old server may lack the
  // length in characters, and then the length in bytes stands for it.
  sql.AddLine("SELECT TRIM(RF.RDB$FIELD_NAME) AS COLONNA, "
              "COALESCE(F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH) AS LUNGHEZZA");
  sql.AddLine("FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE");
  sql.AddLine("WHERE RF.RDB$RELATION_NAME = '" + DoubleApostrophes(tabella) + "' AND F.RDB$FIELD_TYPE IN (14, 37)");
  sql.AddLine("AND RF.RDB$FIELD_NAME IN (" + nomi + ")");
  transaction.StartTransaction();
  for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
    lunghezze[sql.FieldByName("COLONNA").AsString()] = sql.FieldByName("LUNGHEZZA").AsInteger();
  }
  transaction.Commit();
  return lunghezze;
}

void VerificaLunghezza(std::int64_t caratteri, std::optional<std::int32_t> lunghezza) {
  if (lunghezza && caratteri > *lunghezza) {
    db::RaiseTextTooLong(caratteri, *lunghezza);
  }
}

void VerificaLunghezzaTesto(std::string_view testo, std::optional<std::int32_t> lunghezza) {
  VerificaLunghezza(db::ParameterTextLength(testo), lunghezza);
}

}  // namespace korvane::config
