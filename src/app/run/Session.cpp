#include "app/run/Session.h"

#include "app/run/RunTrace.h"
#include "app/subject/SubjectInsert.h"
#include "config/QelDBUtility.h"
#include "db/CallBound.h"
#include "platform/Exception.h"
#include "platform/Trace.h"

namespace korvane {

namespace trace = platform::trace;

Session::~Session() { Release(); }

void Session::Open(SessionInputs inputs, const std::string& programFile) {
  Start(std::move(inputs));
  OpenUser(programFile);
  OpenArchive();
}

void Session::Start(SessionInputs inputs) {
  inputs_ = std::move(inputs);
  // Every database call of the session keeps the run's bound (KORVANE_DB_TIMEOUT): a single run's,
  // the free check's, a list's and a refresh's alike.
  db::SetCallTimeout(inputs_.options.databaseTimeout);
  // A ledger asked for that cannot be written stops the session before any work.
  if (!inputs_.options.ledger.path.empty()) {
    ledger_ = std::make_unique<RequestLedger>(inputs_.options.ledger);
    trace::Step("ledger: " + inputs_.options.ledger.path);
  }
  // Connects and verifies the registry while the databases are read; the request waits.
  registryClient_ = std::make_unique<registry::RegistryClient>(inputs_.options.registryEndpoint);
}

void Session::OpenUser(const std::string& programFile) {
  UtenteCorrente = std::make_unique<TQelUser>(inputs_.options.databaseLogin);
  const std::string userDatabase = GetUserDatabasePath(programFile);
  trace::Step("opening the users database: " + userDatabase);
  {
    const db::CallPurpose opening("apertura del database utenti");
    UtenteCorrente->ConnettiDB(userDatabase);
  }
  trace::Step("users database opened: " + UtenteCorrente->DBUser().DatabaseName());
  const db::CallPurpose readingUsers("lettura del database utenti");
  UtenteCorrente->SetCodiceUtente(inputs_.user);
  // The company of the session is the one asked for, not the one on the user's row.
  UtenteCorrente->SetDittaUtente(inputs_.company);
  TraceUser(*UtenteCorrente);
}

void Session::OpenArchive() {
  DBArchivio = std::make_unique<TIBDatabase>();
  const std::string archiveFile = [&] {
    const db::CallPurpose readingUsers("lettura del database utenti");
    return UtenteCorrente->GetParamSoftDes("Archivio");
  }();
  trace::Step("opening the archive: " + archiveFile);
  {
    const db::CallPurpose opening("apertura dell'archivio");
    OpenIBDatabaseFile(*DBArchivio, archiveFile, inputs_.options.databaseLogin);
  }
  trace::Step("archive opened: " + DBArchivio->DatabaseName());
  const db::CallPurpose readingArchive("lettura dell'archivio");
  if (DBArchivio->ReadOnly()) throw Exception("Archivio in sola lettura");

  // Read once: the lengths that a subject's values are checked against before paying, and the
  // columns the company's e-invoicing settings may name.
  columns_ = config::ReadTableColumns(*DBArchivio, Kind().table);
  lengths_ = SubjectColumnLengthsOf(columns_);
}

const CompanyRules& Session::Rules() {
  if (rules_) return *rules_;
  if (rulesFailure_) std::rethrow_exception(rulesFailure_);
  try {
    rules_ = ReadRules();
  } catch (const Exception&) {
    rulesFailure_ = std::current_exception();
    throw;
  }
  return *rules_;
}

CompanyRules Session::ReadRules() {
  const SubjectKind& kind = Kind();
  CompanyRules rules;
  rules.settings = config::ReadCompanySettings(*DBArchivio, {kind.existingVatSetting, kind.ceasedSetting});
  TraceCompanySettings(kind, rules.settings);
  // E-invoicing: the columns that receive the recipient code and the PEC.
  const config::EInvoiceSettingNames eInvoiceSettings{kind.recipientCodeSetting, kind.pecSetting};
  rules.eInvoiceColumns = config::ReadEInvoiceColumns(*DBArchivio, columns_, eInvoiceSettings, kInsertedColumns);
  TraceEInvoiceSettings(eInvoiceSettings, rules.eInvoiceColumns);
  return rules;
}

void Session::Release() noexcept {
  registryClient_.reset();
  UtenteCorrente.reset();
  DBArchivio.reset();
  ledger_.reset();
}

}  // namespace korvane
