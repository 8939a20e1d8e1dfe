#include "app/ImportRun.h"

#include <chrono>
#include <new>
#include <thread>

#include "app/EInvoiceValues.h"
#include "app/ExistingSubject.h"
#include "app/RunTrace.h"
#include "app/SubjectInsert.h"
#include "app/SubjectKind.h"
#include "app/VatNumber.h"
#include "config/ColumnLengths.h"
#include "config/QelDBUtility.h"
#include "db/IBError.h"
#include "platform/Exception.h"
#include "platform/StopSignals.h"
#include "platform/Text.h"
#include "platform/Trace.h"
#include "registry/Registro.h"

namespace korvane {

namespace {

namespace trace = platform::trace;

// Writes of a computed code that another run took first, at the most.
constexpr int kMaxWriteAttempts = 100;
// The pause before a code held by another run's write not yet committed is tried again.
constexpr std::chrono::milliseconds kConcurrentWritePause{20};

}  // namespace

ImportRun::ImportRun(std::vector<std::string> arguments, EnvironmentLookup environment, platform::RunGate& gate,
                     std::string programFile)
    : arguments_(std::move(arguments)),
      environment_(std::move(environment)),
      gate_(gate),
      programFile_(std::move(programFile)) {}

ImportRun::~ImportRun() { Release(); }

RunOutcome ImportRun::Execute() {
  RunOutcome outcome;
  try {
    RunSteps();
    outcome = {code_.Codice, 0};
  } catch (const Exception& error) {
    outcome = {error.Message(), 1};
  } catch (const std::bad_alloc&) {
    outcome = {"Out of memory", 1};
  } catch (const std::exception& error) {
    outcome = {error.what(), 1};
  }
  if (committed_) outcome = {code_.Codice, 0};
  // The outcome is settled: a stop signal from here on no longer replaces it.
  gate_.EnterFinish(outcome.exitCode);
  return outcome;
}

void ImportRun::RunSteps() {
  Parametri = std::make_unique<TParametri>(arguments_, ApiTokenFrom(environment_));
  Parametri->ReadFromCmdLine();
  Parametri->Check();
  inputs_ = ReadRunInputs(*Parametri, environment_);
  const SubjectKind& kind = *inputs_.kind;
  TraceRunInputs(inputs_);
  // Connects and verifies the registry while the databases are read; the request waits.
  registryChannel_ = registry::PrepareRegistryChannel(inputs_.options.registryEndpoint);

  UtenteCorrente = std::make_unique<TQelUser>(inputs_.options.databaseLogin);
  const std::string userDatabase = GetUserDatabasePath(programFile_);
  trace::Step("opening the users database: " + userDatabase);
  UtenteCorrente->ConnettiDB(userDatabase);
  trace::Step("users database opened: " + UtenteCorrente->DBUser().DatabaseName());
  UtenteCorrente->SetCodiceUtente(inputs_.user);
  // The company of the run is the one asked for, not the one on the user's row.
  UtenteCorrente->SetDittaUtente(inputs_.company);
  TraceUser(*UtenteCorrente);

  DBArchivio = std::make_unique<TIBDatabase>();
  const std::string archiveFile = UtenteCorrente->GetParamSoftDes("Archivio");
  trace::Step("opening the archive: " + archiveFile);
  OpenIBDatabaseFile(*DBArchivio, archiveFile, inputs_.options.databaseLogin);
  trace::Step("archive opened: " + DBArchivio->DatabaseName());
  if (DBArchivio->ReadOnly()) throw Exception("Archivio in sola lettura");

  // What cannot be written fails now, before the registry is paid for an answer.
  const SubjectColumnLengths lengths = ReadSubjectColumnLengths(*DBArchivio, inputs_.tipoSoggetto);
  config::CheckTextLength(inputs_.vatNumber, lengths.vatNumber);
  code_ = SettleSubjectCode(inputs_.tipoSoggetto, inputs_.givenCode, *DBArchivio, lengths.code);
  TraceSubjectCode(kind, code_);

  // The company's own rules, each off unless its setting turns it on.
  CompanyRules& rules = inputs_.rules;
  rules.settings = config::ReadCompanySettings(*DBArchivio, {kind.existingVatSetting, kind.ceasedSetting});
  TraceCompanySettings(kind, rules.settings);
  // E-invoicing: the columns that receive the recipient code and the PEC, checked before the call.
  const config::EInvoiceSettingNames eInvoiceSettings{kind.recipientCodeSetting, kind.pecSetting};
  rules.eInvoiceColumns = config::ReadEInvoiceColumns(*DBArchivio, kind.table, eInvoiceSettings, kInsertedColumns);
  TraceEInvoiceSettings(eInvoiceSettings, rules.eInvoiceColumns);
  if (rules.settings.checkVatNumber && !IsValidItalianVatNumber(inputs_.vatNumber)) {
    throw Exception("P.IVA " + inputs_.vatNumber + " non valida");
  }
  if (ChecksStoredVatNumber() && ExistingSubjectAnswers(false)) return;

  registryClient_ = std::make_unique<RegistryClient>();
  const std::string body = registryClient_->InterrogaRegistro(inputs_.vatNumber, inputs_.apiToken,
                                                              inputs_.options.registryEndpoint, registryChannel_.get());
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  answer_ = ParseJSONValue(body);
  if (!GetValueAsBoolean(answer_.get(), "success")) throw Exception("Chiamata Api fallita");
  if (rules.settings.refuseCeasedCompany && CompanyCeased(answer_.get(), *inputs_.options.answerPaths)) {
    throw Exception("Impresa cessata (P.IVA " + inputs_.vatNumber + ")");
  }

  SubjectRow row = ReadSubjectRow(answer_.get(), *inputs_.options.answerPaths);
  row.companyColumns = EInvoiceColumnValues(answer_.get(), *inputs_.options.answerPaths, rules.eInvoiceColumns);
  WriteWithRetries(row);
}

bool ImportRun::ChecksStoredVatNumber() const {
  return inputs_.rules.settings.existingVatNumber != config::ExistingVatNumber::Import;
}

// Looks for a subject with the run's VAT number: before the registry call without a lock; with
// `underLock`, after the answer, in checkAndInsert_ (started here) under the lock of the setting's
// TABX row, held until the insert's commit, so runs for one table look and insert one after the
// other. Without such a subject the run goes on (false). With one, "Riusa" makes its code the
// run's answer (true) and "Rifiuta" ends the run; either way nothing is written.
bool ImportRun::ExistingSubjectAnswers(bool underLock) {
  const SubjectKind& kind = *inputs_.kind;
  const std::optional<std::string> existing =
      underLock
          ? LockAndFindSubject(*DBArchivio, *checkAndInsert_, kind.existingVatSetting, kind.table, inputs_.vatNumber)
          : LookForSubject(*DBArchivio, kind.table, inputs_.vatNumber);
  TraceExistingSubject(existing, underLock);
  if (!existing) return false;
  if (underLock) checkAndInsert_->Rollback();
  if (inputs_.rules.settings.existingVatNumber == config::ExistingVatNumber::Refuse) {
    throw Exception("P.IVA " + inputs_.vatNumber + " presente in archivio (codice " + *existing + ")");
  }
  code_.Codice = *existing;
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
void ImportRun::WriteWithRetries(const SubjectRow& row) {
  if (ChecksStoredVatNumber()) checkAndInsert_ = NewCheckAndInsertTransaction(*DBArchivio);
  insert_ = std::make_unique<SubjectInsert>(*DBArchivio, inputs_.tipoSoggetto, gate_, checkAndInsert_.get(),
                                            row.companyColumns);
  bool reopened = false;
  for (int attempt = 1;; ++attempt) {
    try {
      // Taken at the first try, and again on a connection opened anew (the lock went with the
      // old one); a code that was taken meanwhile leaves it held for the next try.
      if (checkAndInsert_ && !checkAndInsert_->InTransaction() && ExistingSubjectAnswers(true)) return;
      trace::Step(std::string("insert into ") + inputs_.kind->table + ", code " + code_.Codice);
      insert_->Write(inputs_.vatNumber, row, code_.Codice);
      committed_ = true;
      trace::Step("committed");
      return;
    } catch (const WriteFailed& error) {
      if (error.ConnectionLost()) {
        trace::Step("connection lost under the write: the row is looked up");
        ConfirmLostWrite(error);
        committed_ = true;
        trace::Step("committed: the row is stored");
        return;
      }
      trace::Step(error.KeyTaken() ? "code taken: " + code_.Codice : "write failed");
      if (!code_.computed || !error.KeyTaken() || attempt == kMaxWriteAttempts) throw;
      const NextCode next = NextFreeCode(*DBArchivio, inputs_.tipoSoggetto, code_.width, code_.Codice);
      if (next.Codice == code_.Codice) {
        // A stored code that comes again (a width that cuts the number) can never be written.
        if (next.takenIsStored) throw;
        // Under the lock the insert has already waited for that other insert as long as the
        // lock timeout allows.
        if (checkAndInsert_) throw Exception(config::kArchiveBusyMessage);
        // Not stored yet: another run's insert of it has not committed. It soon will (and the
        // next computation passes it) or roll back (and the code is free).
        std::this_thread::sleep_for(kConcurrentWritePause);
      }
      code_.Codice = next.Codice;
    } catch (const Exception& error) {
      if (reopened || !db::ConnectionLost(error)) throw;
      reopened = true;
      trace::Step("archive connection lost before the write: opening it again");
      DBArchivio->Reconnect();
      if (code_.computed) {
        code_.Codice = NextFreeCode(*DBArchivio, inputs_.tipoSoggetto, code_.width, code_.Codice).Codice;
      }
    }
  }
}

// The server may have committed the row and lost only its answer: a caller that took the run
// for failed would store the subject twice.
void ImportRun::ConfirmLostWrite(const WriteFailed& lost) {
  bool stored = false;
  try {
    DBArchivio->Reconnect();
    // Only this run's own row counts: another run for the same number may have committed the same
    // code meanwhile.
    stored =
        SubjectStored(*DBArchivio, inputs_.tipoSoggetto, code_.Codice, inputs_.vatNumber, insert_->TransactionId());
  } catch (const Exception&) {
    throw Exception("Esito della scrittura non verificabile (codice " + code_.Codice + ")");
  }
  if (!stored) throw lost;
}

// Closing the archive connection ends the reads' transactions still open on it.
void ImportRun::Release() noexcept {
  registryClient_.reset();
  // A channel whose request was never sent is closed without one, and without waiting for it.
  registryChannel_.reset();
  Parametri.reset();
  UtenteCorrente.reset();
  insert_.reset();
  checkAndInsert_.reset();
  DBArchivio.reset();
}

}  // namespace korvane
