#include "config/EInvoiceColumns.h"

#include <algorithm>
#include <memory>

#include "config/CompanySettings.h"
#include "config/SqlLiteral.h"
#include "config/TabX.h"
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

// The column the setting names, checked; nothing when the setting is off.
std::optional<CompanyColumn> CheckedColumn(TIBDatabase& archive, std::string_view table,
                                           std::optional<std::vector<TableColumn>>& columns, std::string_view setting,
                                           std::span<const std::string_view> writtenColumns, std::int32_t minimumLength,
                                           const CompanyColumn* other) {
  const std::string stored = GetTabXValue(archive, std::string(setting), -1);
  const std::string_view value = platform::TrimControl(stored);
  if (value.empty()) return std::nullopt;
  if (!columns) columns = ReadTableColumns(archive, table);
  const TableColumn* column = FindColumn(*columns, value);
  if (column == nullptr || !column->text || column->length < minimumLength ||
      std::ranges::find(writtenColumns, std::string_view(column->name)) != writtenColumns.end() ||
      (other != nullptr && other->name == column->name)) {
    throw InvalidSetting(setting, value);
  }
  return CompanyColumn{column->name, column->length};
}

}  // namespace

std::vector<TableColumn> ReadTableColumns(TIBDatabase& database, std::string_view table) {
  TIBSQL sql(&database);
  TIBTransaction& transaction = sql.OwnTransaction(std::make_unique<TIBTransaction>(&database));
  sql.SetParamCheck(false);
  // A database from an old server may lack the length in characters: the length in bytes
  // stands for it. Names are padded with blanks, which no name ends with.
  sql.AddLine("SELECT TRIM(TRAILING FROM RF.RDB$FIELD_NAME) AS COLONNA, F.RDB$FIELD_TYPE AS TIPO,");
  sql.AddLine("COALESCE(F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH) AS LUNGHEZZA,");
  sql.AddLine("CASE WHEN F.RDB$COMPUTED_BLR IS NULL THEN 0 ELSE 1 END AS CALCOLATA");
  sql.AddLine("FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE");
  sql.AddLine("WHERE RF.RDB$RELATION_NAME = '" + DoubleApostrophes(table) + "'");
  sql.AddLine("ORDER BY RF.RDB$FIELD_POSITION");
  std::vector<TableColumn> columns;
  transaction.StartTransaction();
  for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
    const std::int32_t type = sql.FieldByName("TIPO").AsInteger();
    TableColumn column;
    column.name = sql.FieldByName("COLONNA").AsString();
    column.text = (type == kCharType || type == kVarcharType) && sql.FieldByName("CALCOLATA").AsInteger() == 0;
    column.length = column.text ? sql.FieldByName("LUNGHEZZA").AsInteger() : 0;
    columns.push_back(std::move(column));
  }
  transaction.Commit();
  return columns;
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

EInvoiceColumns ReadEInvoiceColumns(TIBDatabase& archive, std::string_view table, const EInvoiceSettingNames& names,
                                    std::span<const std::string_view> writtenColumns) {
  std::optional<std::vector<TableColumn>> columns;
  EInvoiceColumns result;
  result.recipientCode =
      CheckedColumn(archive, table, columns, names.recipientCode, writtenColumns, kRecipientCodeLength, nullptr);
  result.pec = CheckedColumn(archive, table, columns, names.pec, writtenColumns, 1,
                             result.recipientCode ? &*result.recipientCode : nullptr);
  return result;
}

std::string QuotedIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

}  // namespace korvane::config
