#include "app/run/SubjectImport.h"

#include <chrono>
#include <thread>

#include "app/answer/AnswerPaths.h"
#include "app/answer/EInvoiceValues.h"
#include "app/run/Assessment.h"
#include "app/run/RunTrace.h"
#include "app/subject/ExistingSubject.h"
#include "config/ColumnLengths.h"
#include "db/CallBound.h"
#include "db/IBError.h"
#include "platform/Exception.h"
#include "platform/Trace.h"

namespace korvane {

namespace {

namespace trace = platform::trace;

// Writes of a computed code that another run took first, at the most.
constexpr int kMaxWriteAttempts = 100;
// The pause before a code held by another run's write not yet committed is tried again.
constexpr std::chrono::milliseconds kConcurrentWritePause{20};
// How long ending the import's own statement and transaction may wait for the database once the
// outcome is settled (a call not answered by then is given up, its connection closed).
constexpr std::chrono::milliseconds kReleaseWait{500};

}  // namespace

RunOutcome ImportSubject(Session& session, const SubjectInputs& subject, platform::RunGate& gate,
                         std::optional<std::string> givenAnswer) {
  // A stop signal since the last subject ended: this one does not begin.
  if (!gate.BeginSubject()) {
    return RunOutcome("Operazione interrotta (" + gate.StopKept() + ")", 1, OutcomeKind::Stopped);
  }
  SubjectImport import(session, subject, gate, std::move(givenAnswer));
  bool inDoubt = false;
  RunOutcome outcome = CatchOutcome([&] {
    const db::CallPurpose reading("lettura dell'archivio");
    try {
      // The cut: nothing before PayAndWrite is paid for.
      if (import.CheckBeforePaying() == BeforePaying::Pay) import.PayAndWrite();
    } catch (const WriteInDoubt&) {
      inDoubt = true;
      throw;
    }
    return RunOutcome(import.Code(), 0);
  });
  if (const PaidAnswer* answer = import.Answer()) {
    outcome.registryAsked = true;
    outcome.registryStatus = answer->status;
    outcome.answerBody = answer->body;
    outcome.requestSent = answer->requestSent;
  }
  if (import.Committed()) {
    outcome.line = import.Code();
    outcome.exitCode = 0;
    outcome.kind = OutcomeKind::Committed;
  } else if (outcome.exitCode == 0) {
    outcome.kind = OutcomeKind::Reused;
  } else if (inDoubt) {
    outcome.kind = OutcomeKind::InDoubt;
  } else {
    outcome.kind = outcome.requestSent ? OutcomeKind::PaidNotWritten : OutcomeKind::RefusedBeforePaying;
  }
  if (outcome.exitCode == 0) outcome.code = import.Code();
  outcome.ledgerKey = import.LedgerKey();
  // This subject's request, when it recorded one, gets its outcome: the answer's status, or the
  // failure.
  import.SettleRequest(outcome.exitCode, outcome.line);
  // The outcome is settled and its line not yet printed: what the import ends (its statement, a
  // lock's transaction) over a connection that went silent must not hold the line back.
  const db::CallDeadline releaseBound(std::chrono::steady_clock::now() + kReleaseWait);
  import.Release();
  gate.EndSubject();
  return outcome;
}

SubjectImport::SubjectImport(Session& session, SubjectInputs subject, platform::RunGate& commitGate,
                             std::optional<std::string> givenAnswer)
    : session_(session), subject_(std::move(subject)), commitGate_(commitGate), givenAnswer_(std::move(givenAnswer)) {}

SubjectImport::~SubjectImport() { Release(); }

void SubjectImport::Release() noexcept {
  insert_.reset();
  lock_.reset();
  turn_.reset();
}

BeforePaying SubjectImport::CheckBeforePaying() {
  const SubjectKind& kind = session_.Kind();
  const Assessment assessment = CheckSubject(session_, subject_, [&] {
    // Runs of this machine for the number take turns from here: the next one finds this one's row.
    turn_ = TakeVatNumberTurn(session_.Archive().DatabaseName(), kind.table, subject_.vatNumber);
    std::optional<std::string> stored =
        LookForSubjectUnderLock(session_.Archive(), kind.existingVatSetting, kind.table, subject_.vatNumber);
    TraceExistingSubject(stored, false);
    return stored;
  });
  code_ = assessment.code;
  if (assessment.verdict == Verdict::Reuse) return BeforePaying::Answered;
  // Last: the ledger records the request before it leaves, or the daily limit refuses it. An
  // answer in hand is not asked for again.
  if (!givenAnswer_) {
    request_.emplace(session_, subject_.vatNumber.Cleaned());
    request_->Record();
  }
  return BeforePaying::Pay;
}

void SubjectImport::PayAndWrite() {
  if (givenAnswer_) return WriteAnswer(*givenAnswer_);
  // The company's rules are read before the request, as a run always has.
  session_.Rules();
  asked_ = true;
  WriteAnswer(request_->Ask(session_.Registry()).body);
}

void SubjectImport::SettleRequest(int exitCode, std::string_view message) noexcept {
  if (request_) request_->Settle(exitCode, message);
}

void SubjectImport::WriteAnswer(const std::string& body) {
  const CompanyRules& rules = session_.Rules();
  const AnswerPaths& listPaths = *session_.Inputs().options.answerPaths;
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  answer_ = ParseJSONValue(body);
  if (!GetValueAsBoolean(answer_.get(), "success")) throw Exception("Chiamata Api fallita");
  // An answer that lists several companies: the one meant, or none.
  const ChosenCompany chosen = ChooseCompany(answer_.get(), listPaths, subject_.vatNumber.Cleaned());
  if (!chosen.reason.empty()) trace::Step("company: " + chosen.reason);
  const CompanyAnswerPaths company(listPaths, chosen.entry);
  const AnswerPaths& paths = company.Paths();
  if (rules.settings.refuseCeasedCompany && CompanyCeased(answer_.get(), paths)) {
    throw Exception("Impresa cessata (P.IVA " + subject_.vatNumber.Cleaned() + ")");
  }
  SubjectRow row = ReadSubjectRow(answer_.get(), paths);
  row.companyColumns = EInvoiceColumnValues(answer_.get(), paths, rules.eInvoiceColumns);
  WriteWithRetries(row);
}

// The look after the answer, made in the lock's transaction, held until the insert's commit, so
// runs for one table look and insert one after the other. Without such a subject the import goes
// on (false). With one, "Riusa" makes its code the import's answer (true) and "Rifiuta" ends the
// import; either way nothing is written.
bool SubjectImport::StoredSubjectAnswersUnderLock() {
  const VatNumber& vatNumber = subject_.vatNumber;
  const std::optional<std::string> existing =
      LockAndFindSubject(session_.Archive(), *lock_, session_.Kind().table, vatNumber);
  TraceExistingSubject(existing, true);
  if (!existing) return false;
  lock_->Release();
  const std::optional<std::string> answer = StoredSubjectAnswer(session_, vatNumber, *existing);
  if (!answer) return false;
  code_.Codice = *answer;
  return true;
}

// A computed code is not reserved: another run may write it between its computation and this
// insert. The next one has the same width, which the column was checked to hold. A code given on
// the command line is not replaced.
// A connection lost before the write (the server restarted while the registry was asked) is
// opened once more and the write made with the answer in hand, its code computed again as after
// a lost race; one lost under the write is settled by looking the row up.
// A company that checks for a stored VAT number has its lock taken now, with the answer in hand:
// the number is looked up again and the row written and committed in that same transaction.
void SubjectImport::WriteWithRetries(const SubjectRow& row) {
  TIBDatabase& archive = session_.Archive();
  const TTipoSoggetto tipo = session_.Inputs().tipoSoggetto;
  if (session_.Rules().ChecksStoredVatNumber()) {
    lock_ = std::make_unique<config::WriteLock>(archive, session_.Kind().existingVatSetting);
  }
  insert_ = std::make_unique<SubjectInsert>(archive, tipo, commitGate_, lock_ ? &lock_->Transaction() : nullptr,
                                            row.companyColumns);
  bool reopened = false;
  for (int attempt = 1;; ++attempt) {
    try {
      // Taken at the first try, and again on a connection opened anew (the lock went with the
      // old one); a code that was taken meanwhile leaves it held for the next try.
      if (lock_ && !lock_->Held() && StoredSubjectAnswersUnderLock()) return;
      trace::Step(std::string("insert into ") + session_.Kind().table + ", code " + code_.Codice);
      const db::CallPurpose writing("scrittura del soggetto");
      insert_->Write(subject_.vatNumber.Cleaned(), row, code_.Codice);
      committed_ = true;
      session_.KnownCode().Written(code_.Codice);
      trace::Step("committed");
      TraceWrittenValues(row.companyColumns);
      return;
    } catch (const WriteFailed& error) {
      if (error.ConnectionLost()) {
        trace::Step("connection lost under the write: the row is looked up");
        ConfirmLostWrite(error);
        committed_ = true;
        session_.KnownCode().Written(code_.Codice);
        trace::Step("committed: the row is stored");
        TraceWrittenValues(row.companyColumns);
        return;
      }
      trace::Step(error.KeyTaken() ? "code taken: " + code_.Codice : "insert failed: " + error.Message());
      if (!code_.computed || !error.KeyTaken() || attempt == kMaxWriteAttempts) throw;
      const NextCode next = NextFreeCode(archive, tipo, code_.width, code_.Codice);
      if (next.code == code_.Codice) {
        // A stored code that comes again (a width that cuts the number) can never be written.
        if (next.takenIsStored) throw;
        // Under the lock the insert has already waited for that other insert as long as the
        // lock's wait allows.
        if (lock_) throw config::ArchiveBusy();
        // Not stored yet: another run's insert of it has not committed. It soon will (and the
        // next computation passes it) or roll back (and the code is free).
        std::this_thread::sleep_for(kConcurrentWritePause);
      }
      code_.Codice = next.code;
    } catch (const Exception& error) {
      // A database that does not answer is not asked again: the run ends within its bound.
      if (reopened || db::NoAnswer(error) || !db::ConnectionLost(error)) throw;
      reopened = true;
      trace::Step("archive connection lost before the write: opening it again");
      archive.Reconnect();
      if (code_.computed) code_.Codice = NextFreeCode(archive, tipo, code_.width, code_.Codice).code;
    }
  }
}

// The server may have committed the row and lost only its answer: a caller that took the import
// for failed would store the subject twice.
void SubjectImport::ConfirmLostWrite(const WriteFailed& lost) {
  bool stored = false;
  try {
    // The look-up on a new connection, within one bound as a whole.
    const db::CallDeadline lookUpBound(std::chrono::steady_clock::now() + db::CallTimeout());
    const db::CallPurpose checking("verifica della scrittura");
    session_.Archive().Reconnect();
    // Only this import's own row counts: another run for the same number may have committed the
    // same code meanwhile.
    stored = SubjectStored(session_.Archive(), session_.Inputs().tipoSoggetto, code_.Codice,
                           subject_.vatNumber.Cleaned(), insert_->TransactionId());
  } catch (const Exception&) {
    throw WriteInDoubt(code_.Codice);
  }
  if (!stored) throw lost;
}

}  // namespace korvane
