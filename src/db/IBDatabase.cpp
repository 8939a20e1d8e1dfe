#include "db/IBDatabase.h"

#include <algorithm>

#include "db/AttachName.h"
#include "db/CallBound.h"
#include "db/ClientLibrary.h"
#include "db/IBSQL.h"
#include "db/ParameterBlocks.h"
#include "db/Watchdog.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Trace.h"

namespace korvane {

using namespace db;

static_assert(sizeof(isc_db_handle) == sizeof(std::uint32_t));

namespace {

std::string_view LineName(const std::string& line) { return std::string_view(line).substr(0, line.find('=')); }

}  // namespace

TIBDatabase::TIBDatabase() = default;

TIBDatabase::~TIBDatabase() {
  if (Connected()) {
    try {
      DoClose(false);
    } catch (...) {
      ForceClose();
    }
  }
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->DatabaseGone();
  statements_.clear();
  for (TIBTransaction* transaction : std::vector<TIBTransaction*>(transactions_)) {
    transaction->RemoveDatabase(this);
  }
  transactions_.clear();
  ownedTransactions_.clear();
}

void TIBDatabase::CheckNotConnected() const {
  if (Connected()) RaiseClientError(kDatabaseOpen);
}

void TIBDatabase::ClearParams() {
  if (params_.empty()) return;
  CheckNotConnected();
  params_.clear();
  paramsChanged_ = true;
}

void TIBDatabase::SetParam(const std::string& name, const std::string& value) {
  auto line = std::find_if(params_.begin(), params_.end(),
                           [&](const std::string& l) { return platform::SameTextAscii(LineName(l), name); });
  if (value.empty()) {
    if (line == params_.end()) return;
    CheckNotConnected();
    params_.erase(line);
  } else {
    CheckNotConnected();
    if (line == params_.end()) {
      params_.push_back(name + "=" + value);
    } else {
      *line = name + "=" + value;
    }
  }
  paramsChanged_ = true;
}

void TIBDatabase::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  CheckNotConnected();
  databaseName_ = name;
}

void TIBDatabase::Open() {
  if (Connected()) return;
  LoadClientLibrary();
  if (databaseName_.empty()) RaiseClientError(kDatabaseNameMissing);
  if (paramsChanged_) {
    // Computed once: the program file does not move while the process runs.
    static const std::string processName = ProcessNameForAttach(platform::ProgramFilePath());
    dpb_ = BuildDPB(params_, processName);
    paramsChanged_ = false;
  }
  // The name goes out as UTF-8, as the parameter block says: file names on this system are UTF-8.
  const std::string name = AttachName(databaseName_);
  platform::trace::Step("attaching " + name);
  try {
    if (IsLocalFilePath(name)) CheckLocalAttach(name);
    // An attach has no connection yet that could be cancelled: it waits in a thread of its own,
    // left behind when it does not answer in time.
    std::optional<AttachResult> attached = AttachWithin(name, dpb_);
    if (!attached) throw EIBError(NoAnswerMessage("attach"), 0, 0, false, true);
    if (attached->error) attached->error->Raise();
    handle_ = attached->handle;
  } catch (const Exception& error) {
    platform::trace::Step("attach failed: " + error.Message());
    throw;
  }
  ReadDatabaseInfo();
}

void TIBDatabase::ReadDatabaseInfo() {
  const ClientApi& api = Api();
  const ISC_SCHAR items[] = {isc_info_db_sql_dialect, isc_info_db_read_only};
  ISC_SCHAR answer[512] = {};
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(&handle_, "info");
  if (api.database_info(status, &handle_, sizeof items, items, sizeof answer, answer) != 0) {
    const DatabaseError error = DatabaseErrorOf(status, watch);
    NoteLost(error);
    error.Raise();
  }
  // Each item answered: its code, a two-byte length and that many bytes of value.
  dbSqlDialect_ = 1;
  readOnly_ = false;
  for (std::size_t at = 0; at + 3 <= sizeof answer;) {
    const ISC_SCHAR item = answer[at];
    if (item == isc_info_end || item == isc_info_truncated || item == isc_info_error) break;
    const short length = static_cast<short>(api.vax_integer(answer + at + 1, 2));
    if (length < 0 || at + 3 + static_cast<std::size_t>(length) > sizeof answer) break;
    const long value = api.vax_integer(answer + at + 3, length);
    if (item == isc_info_db_sql_dialect) dbSqlDialect_ = static_cast<int>(value);
    if (item == isc_info_db_read_only) readOnly_ = value != 0;
    at += 3 + static_cast<std::size_t>(length);
  }
  if (dbSqlDialect_ < sqlDialect_) sqlDialect_ = dbSqlDialect_;
}

void TIBDatabase::Close() { DoClose(false); }

void TIBDatabase::Reconnect() {
  ForceClose();
  Open();
}

void TIBDatabase::DoClose(bool force) {
  if (!Connected()) return;
  if (lost_) {
    CloseLost();
    return;
  }
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->DatabaseClosing();
  for (TIBTransaction* transaction : std::vector<TIBTransaction*>(transactions_)) {
    transaction->ForcedEnd();
  }
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(&handle_, "detach");
  if (Api().detach_database(status, &handle_) != 0 && !force) {
    const DatabaseError error = DatabaseErrorOf(status, watch);
    if (!error.LostConnection()) error.Raise();
  }
  handle_ = 0;
  dbSqlDialect_ = 1;
  readOnly_ = false;
}

void TIBDatabase::NoteLost(const DatabaseError& error) noexcept {
  if (error.LostConnection()) lost_ = true;
}

// Statements and transactions see the connection lost and let go of their handles without a call;
// the detach of a broken connection is answered by the client library itself, which releases
// the statements and transactions it still keeps for it.
void TIBDatabase::CloseLost() noexcept {
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->DatabaseClosing();
  for (TIBTransaction* transaction : std::vector<TIBTransaction*>(transactions_)) {
    transaction->ForcedEnd();
  }
  ISC_STATUS_ARRAY status{};
  {
    const WatchedCall watch(&handle_, "detach");
    Api().detach_database(status, &handle_);
  }
  handle_ = 0;
  lost_ = false;
  dbSqlDialect_ = 1;
  readOnly_ = false;
}

TIBTransaction& TIBDatabase::CreateOwnedTransaction(TIBTransactionLevel level) {
  ownedTransactions_.push_back(std::make_unique<TIBTransaction>(this, level));
  return *ownedTransactions_.back();
}

void TIBDatabase::AddTransaction(TIBTransaction* transaction) {
  if (std::find(transactions_.begin(), transactions_.end(), transaction) == transactions_.end()) {
    transactions_.push_back(transaction);
  }
}

void TIBDatabase::RemoveTransaction(TIBTransaction* transaction) noexcept { std::erase(transactions_, transaction); }

void TIBDatabase::AddStatement(TIBSQL* statement) {
  if (std::find(statements_.begin(), statements_.end(), statement) == statements_.end()) {
    statements_.push_back(statement);
  }
}

void TIBDatabase::RemoveStatement(TIBSQL* statement) noexcept { std::erase(statements_, statement); }

}  // namespace korvane
