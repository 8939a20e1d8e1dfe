#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/inputs/RunInputs.h"
#include "app/ledger/RequestLedger.h"
#include "app/subject/SubjectCode.h"
#include "app/subject/SubjectKind.h"
#include "config/ColumnLengths.h"
#include "config/CompanySettings.h"
#include "config/EInvoiceColumns.h"
#include "config/QelUser.h"
#include "db/IBDatabase.h"
#include "registry/Registro.h"

namespace korvane {

// The company's own rules for the session's kind of subject, each off unless its setting turns
// it on.
struct CompanyRules {
  config::CompanySettings settings;
  config::EInvoiceColumns eInvoiceColumns;

  // True when the company asks what to do with a VAT number the table already holds: then the
  // number is looked up before paying, and the row is written under the company's write lock.
  bool ChecksStoredVatNumber() const { return settings.existingVatNumber != config::ExistingVatNumber::Import; }
};

// What imports of one kind of subject for one user and company share, opened once: the user and
// the users database, the archive, the subject table's columns, the company's rules and the
// registry's client with its prepared channel. Subjects are imported on it with ImportSubject.
class Session {
 public:
  Session() = default;
  // Release().
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the session step by step: starts preparing the registry's channel, opens the users
  // database and reads the user, opens the company's archive (refused when read-only) and reads
  // the subject table's columns once. A step that fails raises its error and leaves what was
  // opened before it to Release, so that a run's line is written before anything is released.
  void Open(SessionInputs inputs, const std::string& programFile);
  // Open's steps, one by one, for the free check that reports each: the ledger and the registry's
  // client with its channel; the users database and the user; the archive and its columns.
  void Start(SessionInputs inputs);
  void OpenUser(const std::string& programFile);
  void OpenArchive();
  // Releases what Open opened, in a fixed order: the registry's client and its channel (one never
  // used is closed without a request byte, and without waiting for it), the user and the users
  // database, the archive last (its close ends the reads' transactions still open on it). Never
  // throws.
  void Release() noexcept;

  const SessionInputs& Inputs() const { return inputs_; }
  const SubjectKind& Kind() const { return SubjectKindOf(inputs_.tipoSoggetto); }
  TIBDatabase& Archive() { return *DBArchivio; }
  // The declared lengths of the subject table's CODICE and PI.
  const SubjectColumnLengths& Lengths() const { return lengths_; }
  // The company's rules, read (and traced) at the first call and kept, or their failure kept and
  // raised again at every call: the first subject asks for them once its code is settled, the
  // point where a run has always read them, so that a single run reports its errors in the same
  // order, and a bad setting is read once for all the subjects of a session.
  const CompanyRules& Rules();
  registry::RegistryClient& Registry() { return *registryClient_; }
  // A client of its own for a thread that asks the registry beside the session's: the same
  // address and settings, and the session's TLS context. With `prepareChannel`, its connection is
  // made ready at once. Callable from any thread between Start and Release.
  std::unique_ptr<registry::RegistryClient> NewRegistryClient(bool prepareChannel) const {
    return registryClient_->AnotherClient(prepareChannel);
  }
  // The highest code of the session's table as its own reads and writes know it.
  KnownHighestCode& KnownCode() { return knownCode_; }
  // The ledger of paid requests; nothing when none was asked for.
  RequestLedger* Ledger() { return ledger_.get(); }

 private:
  CompanyRules ReadRules();

  SessionInputs inputs_;
  std::vector<config::TableColumn> columns_;
  SubjectColumnLengths lengths_;
  std::optional<CompanyRules> rules_;
  std::exception_ptr rulesFailure_;
  KnownHighestCode knownCode_;
  // Released in this order by Release(): the ledger last, after the connections.
  std::unique_ptr<registry::RegistryClient> registryClient_;
  std::unique_ptr<TQelUser> UtenteCorrente;
  std::unique_ptr<TIBDatabase> DBArchivio;
  std::unique_ptr<RequestLedger> ledger_;
};

}  // namespace korvane
