#include "db/IBTransaction.h"

#include <algorithm>

#include "db/ClientLibrary.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/ParameterBlocks.h"
#include "db/Watchdog.h"

namespace korvane {

using namespace db;

static_assert(sizeof(isc_tr_handle) == sizeof(std::uint32_t));

namespace {

// One entry of isc_start_multiple's vector, laid out as the client library reads it.
struct TransactionElement {
  isc_db_handle* database;
  int tpbLength;
  const ISC_SCHAR* tpb;
};

}  // namespace

TIBTransaction::TIBTransaction(TIBDatabase* defaultDatabase, TIBTransactionLevel level) {
  SetTransactionLevel(level);
  if (defaultDatabase != nullptr) SetDefaultDatabase(defaultDatabase);
}

TIBTransaction::~TIBTransaction() {
  ForcedEnd();
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->TransactionGone();
  statements_.clear();
  for (TIBDatabase* database : databases_) database->RemoveTransaction(this);
  databases_.clear();
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database) {
  if (database == defaultDatabase_) return;
  if (defaultDatabase_ != nullptr) RemoveDatabase(defaultDatabase_);
  defaultDatabase_ = database;
  if (database != nullptr) AddDatabase(database);
}

void TIBTransaction::SetTransactionLevel(TIBTransactionLevel level) {
  if (InTransaction()) RaiseClientError(kInTransaction);
  params_.clear();
  if (level == TIBTransactionLevel::ibtrSnapshot) params_ = {"concurrency", "nowait"};
}

void TIBTransaction::AddDatabase(TIBDatabase* database) {
  if (std::find(databases_.begin(), databases_.end(), database) == databases_.end()) {
    databases_.push_back(database);
  }
  database->AddTransaction(this);
}

void TIBTransaction::RemoveDatabase(TIBDatabase* database) noexcept {
  std::erase(databases_, database);
  database->RemoveTransaction(this);
  if (defaultDatabase_ == database) defaultDatabase_ = nullptr;
}

void TIBTransaction::AddStatement(TIBSQL* statement) {
  if (std::find(statements_.begin(), statements_.end(), statement) == statements_.end()) {
    statements_.push_back(statement);
  }
}

void TIBTransaction::RemoveStatement(TIBSQL* statement) noexcept { std::erase(statements_, statement); }

void TIBTransaction::StartTransaction() {
  if (InTransaction()) RaiseClientError(kInTransaction);
  if (databases_.empty()) RaiseClientError(kNoDatabasesInTransaction);
  for (TIBDatabase* database : databases_) {
    if (!database->Connected()) RaiseClientError(kDatabaseClosed);
  }
  if (!tpbBuilt_ || builtParams_ != params_) {
    tpb_ = BuildTPB(params_);
    lockWait_ = TransactionLockWait(params_);
    builtParams_ = params_;
    tpbBuilt_ = true;
  }
  std::vector<TransactionElement> elements;
  for (TIBDatabase* database : databases_) {
    elements.push_back({database->HandleAddress(), static_cast<int>(tpb_.size()),
                        tpb_.empty() ? nullptr : reinterpret_cast<const ISC_SCHAR*>(tpb_.data())});
  }
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(databases_.front()->HandleAddress(), "start transaction");
  if (Api().start_multiple(status, &handle_, static_cast<short>(elements.size()), elements.data()) != 0) {
    handle_ = 0;
    const DatabaseError error = DatabaseErrorOf(status, watch);
    NoteLost(error);
    error.Raise();
  }
}

std::int64_t TIBTransaction::Id() {
  if (!InTransaction()) RaiseClientError(kNotInTransaction);
  const ISC_SCHAR items[] = {isc_info_tra_id};
  ISC_SCHAR answer[64] = {};
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(WatchedDatabase(), "info");
  if (Api().transaction_info(status, &handle_, sizeof items, items, sizeof answer, answer) != 0) {
    const DatabaseError error = DatabaseErrorOf(status, watch);
    NoteLost(error);
    error.Raise();
  }
  // The item's code, a two-byte length and that many bytes of value.
  if (answer[0] != isc_info_tra_id) return 0;
  const short length = static_cast<short>(Api().vax_integer(answer + 1, 2));
  if (length <= 0 || length > 8) return 0;
  return Api().portable_integer(reinterpret_cast<const ISC_UCHAR*>(answer + 3), length);
}

void TIBTransaction::Commit() { End(true); }
void TIBTransaction::Rollback() { End(false); }

void TIBTransaction::CloseStatementCursors() {
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->Close();
}

void TIBTransaction::End(bool commit) {
  if (!InTransaction()) RaiseClientError(kNotInTransaction);
  CloseStatementCursors();
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(WatchedDatabase(), commit ? "commit" : "rollback");
  const ISC_STATUS result =
      commit ? Api().commit_transaction(status, &handle_) : Api().rollback_transaction(status, &handle_);
  if (result == 0) {
    handle_ = 0;
    return;
  }
  // The handle stays, so a rollback can follow a failed commit. A connection that went away is
  // closed by force, which drops this handle too.
  const DatabaseError error = DatabaseErrorOf(status, watch);
  NoteLost(error);
  if (error.LostConnection()) {
    for (TIBDatabase* database : std::vector<TIBDatabase*>(databases_)) database->ForceClose();
  }
  error.Raise();
}

const std::uint32_t* TIBTransaction::WatchedDatabase() const {
  static const std::uint32_t kNone = 0;
  return databases_.empty() ? &kNone : databases_.front()->HandleAddress();
}

void TIBTransaction::NoteLost(const DatabaseError& error) noexcept {
  for (TIBDatabase* database : databases_) database->NoteLost(error);
}

void TIBTransaction::ForcedEnd() noexcept {
  if (!InTransaction()) return;
  for (TIBSQL* statement : std::vector<TIBSQL*>(statements_)) statement->CloseQuietly();
  // Over a lost connection nothing is sent: the handle is forgotten, and the connection's close
  // lets the client library release it.
  if (std::ranges::any_of(databases_, [](const TIBDatabase* database) { return database->Lost(); })) {
    handle_ = 0;
    return;
  }
  const bool commit =
      defaultAction_ == TIBTransactionAction::TACommit || defaultAction_ == TIBTransactionAction::TACommitRetaining;
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(WatchedDatabase(), commit ? "commit" : "rollback");
  // A commit given up is not followed by a rollback over the same silent connection.
  if (!commit || (Api().commit_transaction(status, &handle_) != 0 && !watch.GaveUp())) {
    Api().rollback_transaction(status, &handle_);
  }
  handle_ = 0;
}

}  // namespace korvane
