#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/inputs/RunInputs.h"
#include "app/run/Session.h"
#include "app/subject/SubjectCode.h"
#include "app/subject/VatNumber.h"

namespace korvane {

// What a run would do with one subject, decided before anything is paid for.
enum class Verdict {
  Pay,     // every check passed: the registry would be asked
  Reuse,   // a stored subject with the VAT number answers ("Riusa"): nothing to pay
  Refuse,  // a check failed: the run would end with `refusal`, nothing paid
};

struct Assessment {
  Verdict verdict = Verdict::Pay;
  // The code the subject would be written with (a computed one is taken again if another run
  // writes it first), or the stored subject's code that answers it.
  SubjectCode code;
  // For Refuse: the line a run would print.
  std::string refusal;
};

// Finds the code of a stored subject with the subject's VAT number. A run's look takes the
// machine's turn for the number and tries the write lock; the assessment's only reads.
using StoredSubjectLookup = std::function<std::optional<std::string>()>;

// The checks before paying, in a run's order: the VAT number against PI's length, the code (given
// or computed, and its length), the company's rules, the check digits when the company checks
// them, a stored subject with the number when the company asks what to do with one (found by
// `lookUp`), a given code already stored, and the login's INSERT right. Raises what a run would be
// refused for; returns Pay or Reuse. Writes nothing.
Assessment CheckSubject(Session& session, const SubjectInputs& subject, const StoredSubjectLookup& lookUp);

// The same checks with nothing reserved and nothing recorded: a stored subject is read as the
// write lock's wait allows, without the lock or the machine's turn. A refusal is returned, not
// raised. Callable for each subject of a list on an open session.
Assessment AssessSubject(Session& session, const SubjectInputs& subject);

// The check digits of the VAT number, when the company's rules ask for them; raises the run's
// refusal.
void CheckVatNumberDigits(Session& session, const VatNumber& vatNumber);

// The stored subject with the VAT number in the session's table, read as the write lock's wait
// allows (config::ArchiveBusy past it), without taking the lock.
std::optional<std::string> ReadStoredSubject(Session& session, const VatNumber& vatNumber);

// What the company's setting makes of the stored subject `stored` with the VAT number: its code
// when it answers the import ("Riusa"), nothing when the import goes on ("Importa"); raises the
// refusal for "Rifiuta".
std::optional<std::string> StoredSubjectAnswer(Session& session, const VatNumber& vatNumber, const std::string& stored);

}  // namespace korvane
