#include "app/refresh/DifferencesReport.h"

#include <array>

#include "app/list/ListReport.h"
#include "app/list/ListTable.h"

namespace korvane {

namespace {

void AddLine(std::string& bytes, const std::array<std::string, 8>& cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) bytes += ';';
    bytes += ReportField(cells[i]);
  }
  bytes += "\r\n";
}

void AddSubject(std::string& bytes, const SubjectComparison& subject) {
  const std::string activity(ActivityWord(subject.activity));
  bool written = !subject.state.empty();
  if (written) AddLine(bytes, {subject.code, subject.vatNumber, "", "", "", "", subject.state, activity});
  for (const FieldComparison& field : subject.fields) {
    if (field.action == MergeAction::Same) continue;
    AddLine(bytes, {subject.code, subject.vatNumber, field.field, field.archive, field.registry.value_or(""),
                    field.base.value_or(""), std::string(MergeActionWord(field.action)), activity});
    written = true;
  }
  if (subject.recipientPairInconsistent) {
    AddLine(bytes, {subject.code, subject.vatNumber, "", "", "", "", kInconsistentPairWord, activity});
    written = true;
  }
  if (!written && subject.activity != CompanyActivity::Active) {
    AddLine(bytes, {subject.code, subject.vatNumber, "", "", "", "", "", activity});
  }
}

}  // namespace

std::string DifferencesReportText(const std::vector<SubjectComparison>& subjects) {
  std::string bytes(kUtf8ByteOrderMark);
  bytes += kDifferencesHeader;
  bytes += "\r\n";
  for (const bool active : {true, false}) {
    for (const SubjectComparison& subject : subjects) {
      if ((subject.activity == CompanyActivity::Active) == active) AddSubject(bytes, subject);
    }
  }
  return bytes;
}

void WriteDifferencesReport(const std::string& path, const std::vector<SubjectComparison>& subjects) {
  WriteFileWhole(path, DifferencesReportText(subjects), "Rapporto");
}

}  // namespace korvane
