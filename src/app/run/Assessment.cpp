#include "app/run/Assessment.h"

#include "app/run/RunOutcome.h"
#include "app/run/RunTrace.h"
#include "app/subject/ExistingSubject.h"
#include "app/subject/VatNumber.h"
#include "config/ColumnLengths.h"
#include "config/TableRights.h"
#include "config/WriteLock.h"
#include "db/IBSQL.h"
#include "platform/Exception.h"

namespace korvane {

Assessment CheckSubject(Session& session, const SubjectInputs& subject, const StoredSubjectLookup& lookUp) {
  const SubjectKind& kind = session.Kind();
  Assessment assessment;
  // What cannot be written fails now, before the registry is paid for an answer.
  config::CheckTextLength(subject.vatNumber.Cleaned(), session.Lengths().vatNumber);
  assessment.code = SettleSubjectCode(session.Inputs().tipoSoggetto, subject.givenCode, session.Archive(),
                                      session.Lengths().code, &session.KnownCode());
  TraceSubjectCode(kind, assessment.code);
  const CompanyRules& rules = session.Rules();
  CheckVatNumberDigits(session, subject.vatNumber);
  if (rules.ChecksStoredVatNumber()) {
    if (const std::optional<std::string> stored = lookUp()) {
      if (const std::optional<std::string> answer = StoredSubjectAnswer(session, subject.vatNumber, *stored)) {
        assessment.code.Codice = *answer;
        assessment.verdict = Verdict::Reuse;
        return assessment;
      }
    }
  }
  // What the insert would be refused for after the registry was paid.
  TIBDatabase& archive = session.Archive();
  if (!subject.givenCode.empty()) CheckGivenCodeFree(archive, session.Inputs().tipoSoggetto, subject.givenCode);
  config::CheckInsertRight(archive, kind.table);
  return assessment;
}

Assessment AssessSubject(Session& session, const SubjectInputs& subject) {
  Assessment assessment;
  const RunOutcome refused = CatchOutcome([&] {
    assessment = CheckSubject(session, subject, [&] {
      std::optional<std::string> stored = ReadStoredSubject(session, subject.vatNumber);
      TraceExistingSubject(stored, false);
      return stored;
    });
    return RunOutcome({}, 0);
  });
  if (refused.exitCode != 0) {
    assessment.verdict = Verdict::Refuse;
    assessment.refusal = refused.line;
  }
  return assessment;
}

void CheckVatNumberDigits(Session& session, const VatNumber& vatNumber) {
  if (session.Rules().settings.checkVatNumber && !vatNumber.IsValidItalian()) {
    throw Exception(InvalidVatNumberMessage(vatNumber.Cleaned()));
  }
}

std::optional<std::string> ReadStoredSubject(Session& session, const VatNumber& vatNumber) {
  TIBDatabase& archive = session.Archive();
  return config::ReadAsTheLockWaits(archive, [&](TIBSQL& sql) {
    return FindSubjectByVatNumber(archive, *sql.Transaction(), session.Kind().table, vatNumber);
  });
}

std::optional<std::string> StoredSubjectAnswer(Session& session, const VatNumber& vatNumber,
                                               const std::string& stored) {
  switch (session.Rules().settings.existingVatNumber) {
    case config::ExistingVatNumber::Reuse: return stored;
    case config::ExistingVatNumber::Refuse: throw Exception(StoredVatNumberMessage(vatNumber.Cleaned(), stored));
    case config::ExistingVatNumber::Import: break;
  }
  return std::nullopt;
}

}  // namespace korvane
