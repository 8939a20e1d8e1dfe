#include "app/refresh/SubjectComparison.h"

#include "app/answer/EInvoiceValues.h"
#include "app/answer/SubjectRow.h"
#include "app/subject/SubjectInsert.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

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
                                  const config::EInvoiceColumns& columns,
                                  const std::optional<config::CompanyColumn>& activityMark) {
  SubjectRow row = ReadSubjectRow(answer, paths);
  row.companyColumns = EInvoiceColumnValues(answer, paths, columns);
  RegistryFields fields;
  for (WrittenField& field : WrittenFields(row)) fields.values.emplace_back(field.column, std::move(field.value));
  for (CompanyColumnValue& company : row.companyColumns) {
    fields.values.emplace_back(company.column, std::move(company.value));
  }
  fields.activity = ActivityIn(answer, paths);
  if (activityMark) {
    if (auto mark = ActivityMark(fields.activity)) fields.values.emplace_back(activityMark->name, std::move(*mark));
  }
  return fields;
}

RegistryFields ReadRegistryFieldsFor(const TJSONValue* answer, const AnswerPaths& paths, std::string_view vatNumber,
                                     const config::EInvoiceColumns& columns,
                                     const std::optional<config::CompanyColumn>& activityMark) {
  const CompanyAnswerPaths company(paths, ChooseCompany(answer, paths, vatNumber).entry);
  return ReadRegistryFields(answer, company.Paths(), columns, activityMark);
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

store::KeptComparison KeptOf(const SubjectComparison& comparison, const ComparisonPlace& place,
                             std::int64_t comparedUnix) {
  store::KeptComparison kept{place.company,
                             place.archive,
                             place.kind,
                             comparison.code,
                             comparison.vatNumber,
                             comparedUnix,
                             std::string(ActivityWord(comparison.activity)),
                             comparison.recipientPairInconsistent,
                             {},
                             std::nullopt};
  for (const FieldComparison& field : comparison.fields) {
    kept.fields.push_back(
        {field.field, field.archive, field.registry, field.base, std::string(MergeActionWord(field.action))});
  }
  return kept;
}

SubjectComparison ComparisonOf(const store::KeptComparison& kept) {
  SubjectComparison comparison;
  comparison.code = kept.code;
  comparison.vatNumber = kept.vatNumber;
  comparison.activity = ActivityOf(kept.activity);
  comparison.recipientPairInconsistent = kept.recipientPairInconsistent;
  for (const store::KeptField& field : kept.fields) {
    const std::optional<MergeAction> action = MergeActionOfWord(field.action);
    if (!action) throw Exception("Confronto conservato non leggibile (" + field.action + ")");
    comparison.fields.push_back({field.field, field.archive, field.registry, field.base, *action});
  }
  return comparison;
}

}  // namespace korvane
