#include "config/ColumnLengths.h"

#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBXSQLVAR.h"

namespace korvane::config {

std::map<std::string, std::int32_t> TextColumnLengths(TIBDatabase& database, const std::string& table,
                                                      const std::vector<std::string>& columns) {
  std::map<std::string, std::int32_t> lengths;
  if (columns.empty()) return lengths;
  std::string names;
  for (const std::string& column : columns) {
    names += (names.empty() ? "'" : ", '") + DoubleApostrophes(column) + "'";
  }
  TIBSQL sql(&database);
  TIBTransaction& transaction = sql.OwnTransaction(std::make_unique<TIBTransaction>(&database));
  sql.SetParamCheck(false);
  // Field types 14 and 37 are CHAR and VARCHAR; a database from an old server may lack the
  // length in characters, and then the length in bytes stands for it.
  sql.AddLine(
      "SELECT TRIM(RF.RDB$FIELD_NAME) AS COLONNA, "
      "COALESCE(F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH) AS LUNGHEZZA");
  sql.AddLine("FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE");
  sql.AddLine("WHERE RF.RDB$RELATION_NAME = '" + DoubleApostrophes(table) + "' AND F.RDB$FIELD_TYPE IN (14, 37)");
  sql.AddLine("AND RF.RDB$FIELD_NAME IN (" + names + ")");
  transaction.StartTransaction();
  for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
    lengths[sql.FieldByName("COLONNA").AsString()] = sql.FieldByName("LUNGHEZZA").AsInteger();
  }
  transaction.Commit();
  return lengths;
}

void CheckLength(std::int64_t characters, std::optional<std::int32_t> length) {
  if (length && characters > *length) {
    db::RaiseTextTooLong(characters, *length);
  }
}

void CheckTextLength(std::string_view text, std::optional<std::int32_t> length) {
  CheckLength(db::ParameterTextLength(text), length);
}

}  // namespace korvane::config
