#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/ColumnLengths.h"

namespace korvane {
class TIBDatabase;
}  // namespace korvane

namespace korvane::config {

// A column of the subject table that a company setting names, as the database's own metadata
// spells it: a statement names it only in that spelling (QuotedIdentifier), never as the setting
// text has it.
struct CompanyColumn {
  std::string name;
  std::int32_t length = 0;  // declared length in characters
};

// The company's own columns that receive the registry's e-invoicing data for one kind of
// subject; each is absent while its setting is off.
struct EInvoiceColumns {
  std::optional<CompanyColumn> recipientCode;  // the exchange system's recipient code
  std::optional<CompanyColumn> pec;            // the certified e-mail address
  bool Any() const { return recipientCode.has_value() || pec.has_value(); }
};

// The names of the two settings for one kind of subject, e.g. "ColonnaCodiceDestinatarioClienti"
// and "ColonnaPecClienti".
struct EInvoiceSettingNames {
  std::string_view recipientCode;
  std::string_view pec;
};

// A recipient code has 7 characters (6 for a public administration's office).
inline constexpr std::int32_t kRecipientCodeLength = 7;

// Reads the two settings (ReadTabXValue, no user filter; characters of code 32 and below around
// the value ignored; off when missing or empty) and checks each against `table`'s columns: it
// must name a text column that the table has, none of `writtenColumns` (the insert's own), not
// the other setting's column, not one that is NOT NULL without a default (the insert leaves out a
// value the answer does not give), and for the recipient code one of kRecipientCodeLength
// characters or more. Otherwise fails with "Impostazione non valida (<setting> = <value>)", the recipient
// code's setting checked first. The metadata is read only when a setting is on.
EInvoiceColumns ReadEInvoiceColumns(TIBDatabase& archive, std::string_view table, const EInvoiceSettingNames& names,
                                    std::span<const std::string_view> writtenColumns);
// The same with the table's columns already read (`tableColumns`, from ReadTableColumns).
EInvoiceColumns ReadEInvoiceColumns(TIBDatabase& archive, const std::vector<TableColumn>& tableColumns,
                                    const EInvoiceSettingNames& names,
                                    std::span<const std::string_view> writtenColumns);

// The column another company setting names in `table` (e.g. "ColonnaImpresaCessataClienti"),
// read and checked as the two above: a text column of the table, not computed, not NOT NULL
// without a default, of `minimumLength` characters or more, and none of `excluded`. Nothing when
// the setting is off; otherwise fails with "Impostazione non valida (<setting> = <value>)".
std::optional<CompanyColumn> ReadCompanyColumn(TIBDatabase& archive, std::string_view table, std::string_view setting,
                                               std::span<const std::string_view> excluded, std::int32_t minimumLength);

// The name as a statement writes a quoted identifier: between double quotes, each double quote
// doubled, so that it names exactly that column whatever it holds.
std::string QuotedIdentifier(std::string_view name);

}  // namespace korvane::config
