#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/answer/JsonValue.h"
#include "app/answer/SubjectRow.h"
#include "app/inputs/RunInputs.h"
#include "app/run/PaidRequest.h"
#include "app/run/RunOutcome.h"
#include "app/run/Session.h"
#include "app/subject/SubjectCode.h"
#include "app/subject/SubjectInsert.h"
#include "config/WriteLock.h"
#include "platform/MachineTurn.h"
#include "platform/StopSignals.h"

namespace korvane {

// What the checks before paying decided.
enum class BeforePaying {
  Pay,       // every check passed: the registry is asked next
  Answered,  // a stored subject with this VAT number answers the import ("Riusa"): nothing to pay
};

// The import of one subject on an open session. Owns everything it creates (the code, the
// registry's answer, the insert, the write lock's transaction) and ends it when released: an
// active lock transaction is rolled back.
class SubjectImport {
 public:
  // `commitGate` is told when the insert's commit is sent.
  // With `givenAnswer` (an answer paid for earlier, kept in the store, or asked for elsewhere) the
  // import writes from it: nothing is recorded in the ledger and no request is made.
  SubjectImport(Session& session, SubjectInputs subject, platform::RunGate& commitGate,
                std::optional<std::string> givenAnswer = std::nullopt);
  ~SubjectImport();
  // Ends what the import created (its insert statement, a lock's transaction); never throws.
  void Release() noexcept;
  SubjectImport(const SubjectImport&) = delete;
  SubjectImport& operator=(const SubjectImport&) = delete;

  // Everything that can fail before the registry is paid: the checks of CheckSubject, the stored
  // subject looked up with this machine's turn for the number taken first and the write lock
  // tried; then, unless the answer was given, the reservation's last step, the ledger's record of
  // the request, which the daily limit may refuse. Nothing is written to the archive.
  BeforePaying CheckBeforePaying();
  // The paid part, after CheckBeforePaying said Pay: asks the registry (or takes the given
  // answer) and writes the row with WriteAnswer.
  void PayAndWrite();
  // Reads the answer's body and writes the row; a computed code another run took first is replaced
  // and the write tried again without asking the registry again, a connection lost before the
  // write is opened once more, and one lost under the commit is settled by looking the row up.
  void WriteAnswer(const std::string& body);
  // The ledger's outcome of this subject's request, when it recorded one. Never raises.
  void SettleRequest(int exitCode, std::string_view message) noexcept;

  // The code written, or the stored subject's code that answers the import.
  const std::string& Code() const { return code_.Codice; }
  // True once the insert's commit has succeeded (or the look-up found the row committed).
  bool Committed() const { return committed_; }
  // The registry's answer to this subject's request (or how far it came); nothing when the
  // registry was not asked.
  const PaidAnswer* Answer() const { return asked_ ? &request_->Answer() : nullptr; }
  // The ledger's key of this subject's request; empty when none was recorded.
  std::string LedgerKey() const { return request_ ? request_->LedgerKey() : std::string(); }

 private:
  void WriteWithRetries(const SubjectRow& row);
  void ConfirmLostWrite(const WriteFailed& lost);
  // The look for a stored subject with the VAT number after the answer, under the write lock. True
  // when its answer ends the import with that subject's code ("Riusa"); "Rifiuta" raises.
  bool StoredSubjectAnswersUnderLock();

  Session& session_;
  SubjectInputs subject_;
  platform::RunGate& commitGate_;
  SubjectCode code_;
  bool committed_ = false;
  bool asked_ = false;
  std::optional<std::string> givenAnswer_;
  std::optional<PaidRequest> request_;
  std::unique_ptr<TJSONValue> answer_;
  // Released by Release() in the reverse order: the insert's statement, the lock's transaction,
  // then the turn of this machine's runs for the VAT number (held to the end of the import).
  std::unique_ptr<platform::MachineTurn> turn_;
  std::unique_ptr<config::WriteLock> lock_;
  std::unique_ptr<SubjectInsert> insert_;
};

// Imports one subject on an open session and returns its outcome: the new code (or the stored
// one that answers it) and exit 0, or the message of the error that stopped it and exit 1, with
// its kind. Once the insert's commit has succeeded the outcome is success, whatever happens after
// it: a caller that retries on failure would store the subject twice. The subject begins and ends
// on `gate` (a stop signal kept since the last subject is the outcome Stopped, nothing done), and
// everything it created is ended before it returns; the session stays open for the next subject.
// With `givenAnswer` the subject is written from it, nothing asked and nothing in the ledger.
RunOutcome ImportSubject(Session& session, const SubjectInputs& subject, platform::RunGate& gate,
                         std::optional<std::string> givenAnswer = std::nullopt);

}  // namespace korvane
