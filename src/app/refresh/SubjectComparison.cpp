#include "app/refresh/SubjectComparison.h"

#include "app/answer/EInvoiceValues.h"
#include "app/answer/SubjectRow.h"
#include "app/subject/SubjectInsert.h"
#include "config/ReadTransaction.h"
#include "db/IBDatabase.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The activity status is read only to list a company apart: an answer without one is active.
CompanyActivity ActivityIn(const TJSONValue* answer, const AnswerPaths& paths) {
  try {
    return ActivityOf(GetValueAsString(answer, paths.activityStatus));
  } catch (const Exception&) {
    return CompanyActivity::Active;
  }
}

std::optional<std::string> ValueOf(const std::vector<std::pair<std::string, std::string>>& values,
                                   std::string_view column) {
  for (const auto& [name, value] : values) {
    if (name == column) return value;
  }
  return std::nullopt;
}

}  // namespace

RegistryFields ReadRegistryFields(const TJSONValue* answer, const AnswerPaths& paths,
                                  const config::EInvoiceColumns& columns) {
  SubjectRow row = ReadSubjectRow(answer, paths);
  row.companyColumns = EInvoiceColumnValues(answer, paths, columns);
  RegistryFields fields;
  for (WrittenField& field : WrittenFields(row)) fields.values.emplace_back(field.column, std::move(field.value));
  for (CompanyColumnValue& company : row.companyColumns) {
    fields.values.emplace_back(company.column, std::move(company.value));
  }
  fields.activity = ActivityIn(answer, paths);
  return fields;
}

std::optional<std::map<std::string, std::string>> ReadArchiveFields(TIBDatabase& archive, std::string_view table,
                                                                    std::string_view code,
                                                                    const std::vector<std::string>& columns) {
  return config::ReadInTransaction(
      archive, TIBTransactionLevel::ibtrSnapshot,
      [&](TIBSQL& sql) -> std::optional<std::map<std::string, std::string>> {
        std::string list;
        for (const std::string& column : columns) list += (list.empty() ? "" : ",") + config::QuotedIdentifier(column);
        sql.AddLine("SELECT " + list + " FROM " + std::string(table) + " WHERE CODICE = :CODICE");
        sql.ParamByName("CODICE").SetAsString(code);
        sql.ExecQuery();
        if (sql.Eof()) return std::nullopt;
        std::map<std::string, std::string> values;
        for (const std::string& column : columns) {
          TIBXSQLVAR& field = sql.FieldByName(column);
          values[column] = field.IsNull() ? std::string() : WithoutTrailingBlanks(field.AsString());
        }
        return values;
      });
}

std::vector<std::pair<std::string, std::string>> SubjectComparison::Changes() const {
  std::vector<std::pair<std::string, std::string>> changes;
  for (const FieldComparison& field : fields) {
    if (MergeWrites(field.action)) changes.emplace_back(field.field, field.registry.value_or(""));
  }
  return changes;
}

SubjectComparison CompareSubject(std::string code, std::string vatNumber, const RegistryFields& registry,
                                 const std::map<std::string, std::string>& archive,
                                 const std::optional<store::WrittenSubject>& base, const FieldLocks& locks,
                                 const config::EInvoiceColumns& eInvoice) {
  SubjectComparison comparison;
  comparison.code = std::move(code);
  comparison.vatNumber = std::move(vatNumber);
  comparison.activity = registry.activity;
  for (const auto& [column, archiveValue] : archive) {
    FieldComparison field{column, archiveValue, ValueOf(registry.values, column),
                          base ? ValueOf(base->values, column) : std::nullopt};
    field.action = MergeField({field.base, field.archive, field.registry, locks.Locked(comparison.code, column)});
    comparison.fields.push_back(std::move(field));
  }
  if (eInvoice.recipientCode && eInvoice.pec) {
    const auto archived = [&](const config::CompanyColumn& column) {
      const auto found = archive.find(column.name);
      return found == archive.end() ? std::string() : found->second;
    };
    comparison.recipientPairInconsistent =
        RecipientPairInconsistent(archived(*eInvoice.recipientCode), archived(*eInvoice.pec));
  }
  return comparison;
}

}  // namespace korvane
