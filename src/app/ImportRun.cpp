#include "app/ImportRun.h"

#include <chrono>
#include <new>
#include <thread>

#include "app/EInvoiceValues.h"
#include "app/ExistingSubject.h"
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

ImportRun::ImportRun(std::vector<std::string> arguments, EnvironmentLookup environment)
    : arguments_(std::move(arguments)), environment_(std::move(environment)) {}

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
  platform::ProcessRunGate().EnterFinish(outcome.exitCode);
  return outcome;
}

void ImportRun::RunSteps() {
  Parametri = std::make_unique<TParametri>(arguments_, ApiTokenFrom(environment_));
  Parametri->ReadFromCmdLine();
  Parametri->Check();
  options_ = ReadRunOptions(environment_);
  if (trace::On()) TraceOptions();
  // Connects and verifies the registry while the databases are read; the request waits.
  registryChannel_ = registry::PrepareRegistryChannel(options_.registryEndpoint);

  UtenteCorrente = std::make_unique<TQelUser>(options_.databaseLogin);
  const std::string userDatabase = GetUserDatabasePath();
  trace::Step("opening the users database: " + userDatabase);
  UtenteCorrente->ConnettiDB(userDatabase);
  trace::Step("users database opened: " + UtenteCorrente->DBUser().DatabaseName());
  UtenteCorrente->SetCodiceUtente(Parametri->Utente());
  // The company of the run is the one asked for, not the one on the user's row.
  UtenteCorrente->SetDittaUtente(Parametri->Ditta());
  trace::Step("user " + std::to_string(UtenteCorrente->CodiceUtente()) + " (" + UtenteCorrente->NomeUtente() +
              "), company " + UtenteCorrente->DittaUtente());

  DBArchivio = std::make_unique<TIBDatabase>();
  const std::string archiveFile = UtenteCorrente->GetParamSoftDes("Archivio");
  trace::Step("opening the archive: " + archiveFile);
  OpenIBDatabaseFile(*DBArchivio, archiveFile, options_.databaseLogin);
  trace::Step("archive opened: " + DBArchivio->DatabaseName());
  if (DBArchivio->ReadOnly()) throw Exception("Archivio in sola lettura");

  // What cannot be written fails now, before the registry is paid for an answer.
  const SubjectColumnLengths lengths = ReadSubjectColumnLengths(*DBArchivio, Parametri->TipoSoggetto());
  config::CheckTextLength(Parametri->PIVA(), lengths.vatNumber);
  code_ = SettleSubjectCode(*Parametri, *DBArchivio, lengths.code);
  if (code_.computed) {
    trace::Step(std::string("setting ") + SubjectKindOf(Parametri->TipoSoggetto()).codeWidthSetting + " = '" +
                code_.CaratteriRiempimento + "'");
    trace::Step("code computed: " + code_.Codice);
  } else {
    trace::Step("code given: " + code_.Codice);
  }

  // The company's own rules, each off unless its setting turns it on.
  const SubjectKind& kind = SubjectKindOf(Parametri->TipoSoggetto());
  settings_ = config::ReadCompanySettings(*DBArchivio, {kind.existingVatSetting, kind.ceasedSetting});
  if (trace::On()) {
    const char* existing[] = {"off", "Riusa", "Rifiuta"};
    trace::Step(std::string("company settings: ") + kind.existingVatSetting + " " +
                existing[static_cast<int>(settings_.existingVatNumber)] + ", " + kind.ceasedSetting + " " +
                (settings_.refuseCeasedCompany ? "Rifiuta" : "off") + ", ControlloPartitaIva " +
                (settings_.checkVatNumber ? "Si" : "off"));
  }
  // E-invoicing: the columns that receive the recipient code and the PEC, checked before the call.
  const config::EInvoiceSettingNames eInvoiceSettings{kind.recipientCodeSetting, kind.pecSetting};
  eInvoiceColumns_ = config::ReadEInvoiceColumns(*DBArchivio, kind.table, eInvoiceSettings, kInsertedColumns);
  TraceEInvoiceSettings(eInvoiceSettings, eInvoiceColumns_);
  if (settings_.checkVatNumber && !IsValidItalianVatNumber(Parametri->PIVA())) {
    throw Exception("P.IVA " + Parametri->PIVA() + " non valida");
  }
  if (settings_.existingVatNumber != config::ExistingVatNumber::Import && ExistingSubjectAnswers(false)) return;

  registryClient_ = std::make_unique<RegistryClient>();
  const std::string body = registryClient_->InterrogaRegistro(Parametri->PIVA(), Parametri->ApiToken(),
                                                              options_.registryEndpoint, registryChannel_.get());
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  Risposta = ParseJSONValue(body);
  if (!GetValueAsBoolean(Risposta.get(), "success")) throw Exception("Chiamata Api fallita");
  if (settings_.refuseCeasedCompany && CompanyCeased(Risposta.get(), *options_.answerPaths)) {
    throw Exception("Impresa cessata (P.IVA " + Parametri->PIVA() + ")");
  }

  SubjectRow row = ReadSubjectRow(Risposta.get(), *options_.answerPaths);
  row.companyColumns = EInvoiceColumnValues(Risposta.get(), *options_.answerPaths, eInvoiceColumns_);
  WriteWithRetries(row);
}

// Looks for a subject with the run's VAT number: before the registry call without a lock; with
// `underLock`, after the answer, in checkAndInsert_ (started here) under the lock of the setting's
// TABX row, held until the insert's commit, so runs for one table look and insert one after the
// other. Without such a subject the run goes on (false). With one, "Riusa" makes its code the
// run's answer (true) and "Rifiuta" ends the run; either way nothing is written.
bool ImportRun::ExistingSubjectAnswers(bool underLock) {
  const SubjectKind& kind = SubjectKindOf(Parametri->TipoSoggetto());
  const std::optional<std::string> existing =
      underLock
          ? LockAndFindSubject(*DBArchivio, *checkAndInsert_, kind.existingVatSetting, kind.table, Parametri->PIVA())
          : LookForSubject(*DBArchivio, kind.table, Parametri->PIVA());
  trace::Step(std::string("existing subject with this VAT number") + (underLock ? ", under the lock: " : ": ") +
              (existing ? *existing : "none"));
  if (!existing) return false;
  if (underLock) checkAndInsert_->Rollback();
  if (settings_.existingVatNumber == config::ExistingVatNumber::Refuse) {
    throw Exception("P.IVA " + Parametri->PIVA() + " presente in archivio (codice " + *existing + ")");
  }
  code_.Codice = *existing;
  return true;
}

// What the run was told, without the token itself.
void ImportRun::TraceOptions() const {
  trace::Step("command line: user " + std::to_string(Parametri->Utente()) + ", company " + Parametri->Ditta() +
              ", kind " + (Parametri->TipoSoggetto() == TTipoSoggetto::tsFornitore ? "F" : "C") + ", VAT " +
              Parametri->PIVA());
  trace::Step("registry: " + registry::WithoutCredentials(options_.registryEndpoint.url) + " (answer format " +
              (options_.answerPaths == &kSuccessorAnswerPaths ? "IT-start/IT-advanced" : "base") + ")");
  if (const auto& proxy = options_.registryEndpoint.proxy) {
    trace::Step("proxy: " + proxy->Authority() + " (" + proxy->variable + ")");
  }
  // The user name and where each part came from; the password itself never.
  const auto source = [](const std::string& variable) { return variable.empty() ? "built-in" : variable; };
  trace::Step("database login: user " + platform::SanitizeUtf8(options_.databaseLogin.user) + " (" +
              source(options_.databaseUserSource) + "), password (" + source(options_.databasePasswordSource) + ")");
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
  if (settings_.existingVatNumber != config::ExistingVatNumber::Import) {
    checkAndInsert_ = NewCheckAndInsertTransaction(*DBArchivio);
  }
  SubjectInsert insert(*DBArchivio, Parametri->TipoSoggetto(), SQLInserimento, checkAndInsert_.get(),
                       row.companyColumns);
  bool reopened = false;
  for (int attempt = 1;; ++attempt) {
    try {
      // Taken at the first try, and again on a connection opened anew (the lock went with the
      // old one); a code that was taken meanwhile leaves it held for the next try.
      if (checkAndInsert_ && !checkAndInsert_->InTransaction() && ExistingSubjectAnswers(true)) return;
      trace::Step(std::string("insert into ") + SubjectKindOf(Parametri->TipoSoggetto()).table + ", code " +
                  code_.Codice);
      insert.Write(Parametri->PIVA(), row, code_.Codice);
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
      const NextCode next = NextFreeCode(*DBArchivio, Parametri->TipoSoggetto(), code_.width, code_.Codice);
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
        code_.Codice = NextFreeCode(*DBArchivio, Parametri->TipoSoggetto(), code_.width, code_.Codice).Codice;
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
    stored = SubjectStored(*DBArchivio, Parametri->TipoSoggetto(), code_.Codice, Parametri->PIVA());
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
  SQLInserimento.reset();
  checkAndInsert_.reset();
  DBArchivio.reset();
}

}  // namespace korvane
