#include "config/EInvoiceColumns.h"

#include <algorithm>

#include "config/CompanySettings.h"
#include "config/TabX.h"
#include "platform/Text.h"

namespace korvane::config {

namespace {

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
  if (column == nullptr || !column->text || column->computed || column->length < minimumLength ||
      std::ranges::find(writtenColumns, std::string_view(column->name)) != writtenColumns.end() ||
      (other != nullptr && other->name == column->name)) {
    throw InvalidSetting(setting, value);
  }
  return CompanyColumn{column->name, column->length};
}

}  // namespace

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
