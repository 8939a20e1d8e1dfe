#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/answer/AnswerPaths.h"
#include "app/answer/JsonValue.h"
#include "app/refresh/FieldMerge.h"
#include "config/EInvoiceColumns.h"
#include "store/AnswerStore.h"

namespace korvane {

// The fields of a subject that korvane writes, as an import would write them today from one
// answer: RAGSOC to CAP cut to their columns, then the company's recipient code and PEC columns
// (only those set, each only when the answer gives a usable value), and the company's activity.
struct RegistryFields {
  std::vector<std::pair<std::string, std::string>> values;  // column -> value
  CompanyActivity activity = CompanyActivity::Active;
};

// Reads the answer with the import's own rules; raises the answer reader's errors as the import
// does (a missing value names its path). `activityMark`, the company's column for the mark of a
// company not active when it names one, gets ActivityMark's word.
RegistryFields ReadRegistryFields(const TJSONValue* answer, const AnswerPaths& paths,
                                  const config::EInvoiceColumns& columns,
                                  const std::optional<config::CompanyColumn>& activityMark = std::nullopt);
// The same for the company of the answer that the import of `vatNumber` would write, when the
// answer lists several (ChooseCompany, whose refusal it raises).
RegistryFields ReadRegistryFieldsFor(const TJSONValue* answer, const AnswerPaths& paths, std::string_view vatNumber,
                                     const config::EInvoiceColumns& columns,
                                     const std::optional<config::CompanyColumn>& activityMark);

// One field of the comparison.
struct FieldComparison {
  std::string field;
  std::string archive;
  std::optional<std::string> registry;
  std::optional<std::string> base;
  MergeAction action = MergeAction::Same;
};

// One subject compared: every field korvane writes, what the merge does with it, and what the
// report points out about the subject as a whole.
struct SubjectComparison {
  std::string code;
  std::string vatNumber;
  CompanyActivity activity = CompanyActivity::Active;
  std::vector<FieldComparison> fields;
  // The archive's recipient code and PEC contradict each other (a PEC beside a code other than
  // "0000000"); set only when the company names both columns.
  bool recipientPairInconsistent = false;
  // Why the subject was not merged, or what became of its changes ("da richiedere", "aggiornato",
  // "modificato nel frattempo", an answer that could not be read); empty for a plain comparison.
  std::string state;

  // The values the merge writes (column -> value); empty when nothing changes.
  std::vector<std::pair<std::string, std::string>> Changes() const;
};

// Compares the archive's row with what the registry gives and what korvane wrote last (`base`,
// none for a subject it never wrote, or one whose values were not kept). Locks are looked up by
// the subject's code and the column. `eInvoice` names the company's columns, to check their pair.
SubjectComparison CompareSubject(std::string code, std::string vatNumber, const RegistryFields& registry,
                                 const std::map<std::string, std::string>& archive,
                                 const std::optional<store::WrittenSubject>& base, const FieldLocks& locks,
                                 const config::EInvoiceColumns& eInvoice);

// Where a comparison is kept: the company, the archive and the kind of subject.
struct ComparisonPlace {
  std::string company;
  std::string archive;
  char kind = 'C';
};

// The comparison as the store keeps it, at `comparedUnix`, and back: an apply replays exactly what
// the differences showed. A kept comparison whose action words this program does not know raises
// "Confronto conservato non leggibile (<word>)".
store::KeptComparison KeptOf(const SubjectComparison& comparison, const ComparisonPlace& place,
                             std::int64_t comparedUnix);
SubjectComparison ComparisonOf(const store::KeptComparison& kept);

}  // namespace korvane
