#include "config/EInvoiceColumns.h"

#include <algorithm>
#include <functional>

#include "config/CompanySettings.h"
#include "config/TabX.h"
#include "platform/Text.h"

namespace korvane::config {

namespace {

// The table's columns, read at the first need.
using ColumnsSource = std::function<const std::vector<TableColumn>&()>;

// The column the setting names, checked; nothing when the setting is off.
std::optional<CompanyColumn> CheckedColumn(TIBDatabase& archive, const ColumnsSource& columns, std::string_view setting,
                                           std::span<const std::string_view> writtenColumns, std::int32_t minimumLength,
                                           const CompanyColumn* other) {
  const std::string stored = ReadTabXValue(archive, std::string(setting));
  const std::string_view value = platform::TrimControl(stored);
  if (value.empty()) return std::nullopt;
  const TableColumn* column = FindColumn(columns(), value);
  // A value the answer does not give usably is left out of the insert: a column that is NOT NULL
  // without a default would then refuse the row after the registry was paid.
  if (column == nullptr || !column->text || column->computed || column->length < minimumLength ||
      (column->notNull && !column->hasDefault) ||
      std::ranges::find(writtenColumns, std::string_view(column->name)) != writtenColumns.end() ||
      (other != nullptr && other->name == column->name)) {
    throw InvalidSetting(setting, value);
  }
  return CompanyColumn{column->name, column->length};
}

EInvoiceColumns ReadColumns(TIBDatabase& archive, const ColumnsSource& columns, const EInvoiceSettingNames& names,
                            std::span<const std::string_view> writtenColumns) {
  EInvoiceColumns result;
  result.recipientCode =
      CheckedColumn(archive, columns, names.recipientCode, writtenColumns, kRecipientCodeLength, nullptr);
  result.pec = CheckedColumn(archive, columns, names.pec, writtenColumns, 1,
                             result.recipientCode ? &*result.recipientCode : nullptr);
  return result;
}

}  // namespace

EInvoiceColumns ReadEInvoiceColumns(TIBDatabase& archive, std::string_view table, const EInvoiceSettingNames& names,
                                    std::span<const std::string_view> writtenColumns) {
  std::optional<std::vector<TableColumn>> columns;
  const ColumnsSource source = [&]() -> const std::vector<TableColumn>& {
    if (!columns) columns = ReadTableColumns(archive, table);
    return *columns;
  };
  return ReadColumns(archive, source, names, writtenColumns);
}

EInvoiceColumns ReadEInvoiceColumns(TIBDatabase& archive, const std::vector<TableColumn>& tableColumns,
                                    const EInvoiceSettingNames& names,
                                    std::span<const std::string_view> writtenColumns) {
  return ReadColumns(
      archive, [&]() -> const std::vector<TableColumn>& { return tableColumns; }, names, writtenColumns);
}

std::optional<CompanyColumn> ReadCompanyColumn(TIBDatabase& archive, std::string_view table, std::string_view setting,
                                               std::span<const std::string_view> excluded, std::int32_t minimumLength) {
  std::optional<std::vector<TableColumn>> columns;
  const ColumnsSource source = [&]() -> const std::vector<TableColumn>& {
    if (!columns) columns = ReadTableColumns(archive, table);
    return *columns;
  };
  return CheckedColumn(archive, source, setting, excluded, minimumLength, nullptr);
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
