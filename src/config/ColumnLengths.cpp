#include "config/ColumnLengths.h"

#include <algorithm>

#include "config/ReadTransaction.h"
#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "db/IBXSQLVAR.h"
#include "platform/Text.h"

namespace korvane::config {

namespace {

// The metadata's field types of CHAR and VARCHAR.
constexpr std::int32_t kCharType = 14;
constexpr std::int32_t kVarcharType = 37;

}  // namespace

std::vector<TableColumn> ReadTableColumns(TIBDatabase& database, std::string_view table) {
  return ReadInTransaction(database, TIBTransactionLevel::ibtrDefault, [&](TIBSQL& sql) {
    sql.SetParamCheck(false);
    // A database from an old server may lack the length in characters: the length in bytes
    // stands for it. Names are padded with blanks, which no name ends with.
    sql.AddLine("SELECT TRIM(TRAILING FROM RF.RDB$FIELD_NAME) AS COLONNA, F.RDB$FIELD_TYPE AS TIPO,");
    sql.AddLine("COALESCE(F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH) AS LUNGHEZZA,");
    sql.AddLine("CASE WHEN F.RDB$COMPUTED_BLR IS NULL THEN 0 ELSE 1 END AS CALCOLATA,");
    sql.AddLine("CASE WHEN RF.RDB$NULL_FLAG = 1 OR F.RDB$NULL_FLAG = 1 THEN 1 ELSE 0 END AS OBBLIGATORIA,");
    sql.AddLine(
        "CASE WHEN RF.RDB$DEFAULT_VALUE IS NULL AND F.RDB$DEFAULT_VALUE IS NULL THEN 0 ELSE 1 END AS PREDEFINITA");
    sql.AddLine("FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE");
    sql.AddLine("WHERE RF.RDB$RELATION_NAME = '" + DoubleApostrophes(table) + "'");
    sql.AddLine("ORDER BY RF.RDB$FIELD_POSITION");
    std::vector<TableColumn> columns;
    for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
      const std::int32_t type = sql.FieldByName("TIPO").AsInteger();
      TableColumn column;
      column.name = sql.FieldByName("COLONNA").AsString();
      column.text = type == kCharType || type == kVarcharType;
      column.computed = sql.FieldByName("CALCOLATA").AsInteger() != 0;
      column.length = column.text ? sql.FieldByName("LUNGHEZZA").AsInteger() : 0;
      column.notNull = sql.FieldByName("OBBLIGATORIA").AsInteger() != 0;
      column.hasDefault = sql.FieldByName("PREDEFINITA").AsInteger() != 0;
      columns.push_back(std::move(column));
    }
    return columns;
  });
}

const TableColumn* FindColumn(const std::vector<TableColumn>& columns, std::string_view name) {
  const TableColumn* found = nullptr;
  int alike = 0;
  for (const TableColumn& column : columns) {
    if (column.name == name) return &column;
    if (platform::SameTextAscii(column.name, name)) {
      found = &column;
      ++alike;
    }
  }
  return alike == 1 ? found : nullptr;
}

std::map<std::string, std::int32_t> TextColumnLengths(TIBDatabase& database, const std::string& table,
                                                      const std::vector<std::string>& columns) {
  if (columns.empty()) return {};
  return TextColumnLengths(ReadTableColumns(database, table), columns);
}

std::map<std::string, std::int32_t> TextColumnLengths(const std::vector<TableColumn>& tableColumns,
                                                      const std::vector<std::string>& columns) {
  std::map<std::string, std::int32_t> lengths;
  for (const TableColumn& column : tableColumns) {
    if (column.text && std::ranges::find(columns, column.name) != columns.end()) lengths[column.name] = column.length;
  }
  return lengths;
}

void CheckLength(std::int64_t characters, std::optional<std::int32_t> length) {
  if (length && characters > *length) {
    db::RaiseTextTooLong(characters, *length);
  }
}

std::int64_t TextLength(std::string_view text) { return db::ParameterTextLength(text); }

void CheckTextLength(std::string_view text, std::optional<std::int32_t> length) {
  CheckLength(TextLength(text), length);
}

}  // namespace korvane::config
