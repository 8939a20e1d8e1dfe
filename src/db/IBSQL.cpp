#include "db/IBSQL.h"

#include <algorithm>
#include <optional>

#include "db/ClientLibrary.h"
#include "db/DatabaseText.h"
#include "db/StatementText.h"
#include "db/Watchdog.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane {

using namespace db;

static_assert(sizeof(isc_stmt_handle) == sizeof(std::uint32_t));

namespace {

XSQLDA* AllocateDescriptor(std::vector<char>& storage, int count) {
  storage.assign(XSQLDA_LENGTH(std::max(count, 1)), 0);
  auto* descriptor = reinterpret_cast<XSQLDA*>(storage.data());
  descriptor->version = SQLDA_VERSION1;
  descriptor->sqln = static_cast<ISC_SHORT>(std::max(count, 1));
  return descriptor;
}

XSQLDA* Descriptor(std::vector<char>& storage) {
  return storage.empty() ? nullptr : reinterpret_cast<XSQLDA*>(storage.data());
}

// Describes the statement's parameters or columns into `storage`: first with room for
// `expected` entries, then again with room for the server's count when that did not fit or,
// with `exactCount`, when the server counts a different number of parameters.
ISC_STATUS Describe(decltype(&::isc_dsql_describe) call, isc_stmt_handle* handle, unsigned short dialect,
                    std::vector<char>& storage, int expected, bool exactCount, ISC_STATUS* status) {
  XSQLDA* descriptor = AllocateDescriptor(storage, expected);
  if (const ISC_STATUS failed = call(status, handle, dialect, descriptor)) return failed;
  const bool again = descriptor->sqld > descriptor->sqln ||
                     (exactCount && descriptor->sqld > 0 && descriptor->sqld != descriptor->sqln);
  if (!again) return 0;
  return call(status, handle, dialect, AllocateDescriptor(storage, descriptor->sqld));
}

std::string Normalize(std::string_view name) { return platform::UpperCase(platform::TrimControl(name)); }

// Names of a lookup: trimmed and upper case, except a quoted name in dialect 3.
std::string LookupName(std::string_view name, int dialect) {
  const std::string_view trimmed = platform::TrimControl(name);
  if (dialect == 3 && trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"') {
    return std::string(trimmed.substr(1, trimmed.size() - 2));
  }
  return platform::UpperCase(trimmed);
}

// A column's name: its alias, "F_1" for an empty one, and the next free number appended to a
// name that an earlier column has.
std::string ColumnName(std::string_view alias, const std::vector<std::unique_ptr<TIBXSQLVAR>>& earlier) {
  std::string base = Normalize(alias);
  int number = 0;
  if (base.empty()) {
    base = "F_";
    number = 1;
  }
  auto taken = [&](const std::string& candidate) {
    return std::any_of(earlier.begin(), earlier.end(), [&](const auto& column) { return column->Name() == candidate; });
  };
  std::string name = number == 0 ? base : base + std::to_string(number);
  while (taken(name)) name = base + std::to_string(++number);
  return name;
}

}  // namespace

TIBSQL::TIBSQL(TIBDatabase* database) {
  if (database != nullptr) SetDatabase(database);
}

TIBSQL::~TIBSQL() {
  CloseQuietly();
  FreeHandle();
  if (database_ != nullptr) database_->RemoveStatement(this);
  if (transaction_ != nullptr) transaction_->RemoveStatement(this);
  database_ = nullptr;
  transaction_ = nullptr;
  ownedTransaction_.reset();
}

void TIBSQL::SetDatabase(TIBDatabase* database) {
  if (database == database_) return;
  Unprepare();
  if (database_ != nullptr) database_->RemoveStatement(this);
  database_ = database;
  if (database_ != nullptr) database_->AddStatement(this);
}

void TIBSQL::SetTransaction(TIBTransaction* transaction) {
  if (transaction == transaction_) return;
  Unprepare();
  if (transaction_ != nullptr) transaction_->RemoveStatement(this);
  transaction_ = transaction;
  if (transaction_ != nullptr) transaction_->AddStatement(this);
}

TIBTransaction& TIBSQL::OwnTransaction(std::unique_ptr<TIBTransaction> transaction) {
  SetTransaction(transaction.get());
  ownedTransaction_ = std::move(transaction);
  return *ownedTransaction_;
}

void TIBSQL::AddLine(std::string_view line) {
  Unprepare();
  sql_.emplace_back(line);
}

void TIBSQL::ClearSQL() {
  Unprepare();
  sql_.clear();
}

void TIBSQL::SetSQLText(std::string_view text) {
  Unprepare();
  sql_ = SplitLines(text);
}

void TIBSQL::CheckReady() const {
  if (database_ == nullptr) RaiseClientError(kDatabaseNotAssigned);
  if (!database_->Connected()) RaiseClientError(kDatabaseClosed);
  if (transaction_ == nullptr) RaiseClientError(kTransactionNotAssigned);
  if (!transaction_->InTransaction()) RaiseClientError(kNotInTransaction);
}

bool TIBSQL::ServerReachable() const noexcept {
  return database_ != nullptr && database_->Connected() && !database_->Lost();
}

void TIBSQL::NoteLost(const DatabaseError& error) const noexcept {
  if (database_ != nullptr) database_->NoteLost(error);
}

void TIBSQL::Raise(const DatabaseError& error) const {
  NoteLost(error);
  error.Raise();
}

void TIBSQL::FreeHandle() noexcept {
  // Over a lost connection the handle is only forgotten: the connection's close releases it.
  if (handle_ != 0 && ServerReachable() && ClientLibraryLoaded()) {
    ISC_STATUS_ARRAY status{};
    const WatchedCall watch(database_->HandleAddress(), "free statement");
    Api().dsql_free_statement(status, &handle_, DSQL_drop);
  }
  handle_ = 0;
  prepared_ = false;
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
  sqlType_ = TIBSQLTypes::SQLUnknown;
  processedSQL_.clear();
  params_.clear();
  fields_.clear();
  inDescriptor_.clear();
  outDescriptor_.clear();
}

void TIBSQL::Unprepare() noexcept {
  CloseQuietly();
  FreeHandle();
}

void TIBSQL::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
  }
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
}

void TIBSQL::DatabaseClosing() noexcept { Unprepare(); }

void TIBSQL::DatabaseGone() noexcept {
  Unprepare();
  database_ = nullptr;
}

void TIBSQL::TransactionGone() noexcept {
  CloseQuietly();
  transaction_ = nullptr;
}

void TIBSQL::Prepare() { Prepare(nullptr); }

TIBSQL::ConvertedSQL TIBSQL::ConvertSQL() const {
  ConvertedSQL converted;
  converted.text = JoinLines(sql_);
  if (paramCheck_) converted.text = ConvertParamMarkers(converted.text, converted.names);
  return converted;
}

void TIBSQL::Prepare(const ConvertedSQL* given) {
  if (open_) RaiseClientError(kSQLOpen);
  CheckReady();
  if (prepared_) return;
  if (sql_.empty()) RaiseClientError(kEmptyQuery);
  const ConvertedSQL converted = given != nullptr ? *given : ConvertSQL();
  if (converted.text.empty()) RaiseClientError(kEmptyQuery);

  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  // The calls of one prepare are bounded together.
  std::optional<WatchedCall> watch(std::in_place, database_->HandleAddress(), "prepare");
  // Any failure from here drops the statement; a lost connection also closes the connection.
  const auto fail = [&] {
    const DatabaseError error = DatabaseErrorOf(status, *watch);
    watch.reset();
    NoteLost(error);
    FreeHandle();
    if (error.LostConnection() && database_ != nullptr) database_->ForceClose();
    error.Raise();
  };
  if (api.dsql_allocate_statement(status, database_->HandleAddress(), &handle_) != 0) fail();
  const std::string bytes = ToDatabase(converted.text);
  if (api.dsql_prepare(status, transaction_->HandleAddress(), &handle_, 0, bytes.c_str(), Dialect(), nullptr) != 0) {
    fail();
  }

  const ISC_SCHAR item = isc_info_sql_stmt_type;
  ISC_SCHAR answer[8] = {};
  if (api.dsql_sql_info(status, &handle_, 1, &item, sizeof answer, answer) != 0) fail();
  if (answer[0] != isc_info_sql_stmt_type) {
    FreeHandle();
    RaiseClientError(kUnknownError);
  }
  const short length = static_cast<short>(api.vax_integer(answer + 1, 2));
  sqlType_ = static_cast<TIBSQLTypes>(api.vax_integer(answer + 3, length));
  if (sqlType_ == TIBSQLTypes::SQLGetSegment || sqlType_ == TIBSQLTypes::SQLPutSegment ||
      sqlType_ == TIBSQLTypes::SQLStartTransaction) {
    FreeHandle();
    RaiseClientError(kNotPermitted);
  }

  const int markers = static_cast<int>(converted.names.size());
  if (Describe(api.dsql_describe_bind, &handle_, Dialect(), inDescriptor_, markers, true, status) != 0) {
    fail();
  }
  BindParams(converted.names);
  if (sqlType_ == TIBSQLTypes::SQLSelect || sqlType_ == TIBSQLTypes::SQLExecProcedure ||
      sqlType_ == TIBSQLTypes::SQLSelectForUpdate) {
    if (Describe(api.dsql_describe, &handle_, Dialect(), outDescriptor_, 1, false, status) != 0) {
      fail();
    }
    BindFields();
  }
  watch.reset();
  processedSQL_ = converted.text;
  prepared_ = true;
}

void TIBSQL::BindParams(const std::vector<std::string>& names) {
  XSQLDA* descriptor = Descriptor(inDescriptor_);
  params_.clear();
  for (int i = 0; i < descriptor->sqld; ++i) {
    XSQLVAR* var = &descriptor->sqlvar[i];
    var->sqltype = static_cast<ISC_SHORT>(var->sqltype | 1);  // every parameter may be NULL
    const std::size_t marker = static_cast<std::size_t>(i);
    params_.push_back(TIBXSQLVAR::Bind(this, var, marker < names.size() ? Normalize(names[marker]) : ""));
  }
  if (params_.empty()) inDescriptor_.clear();
}

void TIBSQL::BindFields() {
  XSQLDA* descriptor = Descriptor(outDescriptor_);
  fields_.clear();
  for (int i = 0; i < descriptor->sqld; ++i) {
    XSQLVAR* var = &descriptor->sqlvar[i];
    const std::string_view alias(var->aliasname, static_cast<std::size_t>(var->aliasname_length));
    fields_.push_back(TIBXSQLVAR::Bind(this, var, ColumnName(alias, fields_)));
  }
  if (fields_.empty()) outDescriptor_.clear();
}

void TIBSQL::ExecQuery() {
  if (open_) RaiseClientError(kSQLOpen);
  if (!prepared_) {
    Prepare();
  } else {
    CheckReady();
  }
  const ClientApi& api = Api();
  ISC_STATUS_ARRAY status{};
  isc_tr_handle* transaction = transaction_->HandleAddress();
  XSQLDA* in = Descriptor(inDescriptor_);
  const bool select = sqlType_ == TIBSQLTypes::SQLSelect || sqlType_ == TIBSQLTypes::SQLSelectForUpdate;
  ISC_STATUS result = 0;
  const WatchedCall watch(database_->HandleAddress(), "execute", transaction_->LockWait());
  if (select) {
    result = api.dsql_execute2(status, transaction, &handle_, Dialect(), in, nullptr);
  } else if (sqlType_ == TIBSQLTypes::SQLExecProcedure) {
    result = api.dsql_execute2(status, transaction, &handle_, Dialect(), in, Descriptor(outDescriptor_));
  } else {
    result = api.dsql_execute(status, transaction, &handle_, Dialect(), in);
  }
  if (result != 0) Raise(DatabaseErrorOf(status, watch));
  if (select) {
    open_ = true;
    eof_ = false;
    recordCount_ = 0;
    if (goToFirstRecord_) Next();
  }
}

void TIBSQL::Next() {
  if (eof_) return;
  if (!open_) RaiseClientError(kSQLClosed);
  ISC_STATUS_ARRAY status{};
  ISC_STATUS result = 0;
  std::optional<DatabaseError> failure;
  {
    // Rows locked as they are fetched may wait for another transaction's lock.
    const WatchedCall watch(database_->HandleAddress(), "fetch",
                            transaction_ != nullptr ? transaction_->LockWait() : std::chrono::milliseconds::zero());
    result = Api().dsql_fetch(status, &handle_, Dialect(), Descriptor(outDescriptor_));
    if (result != 0 && result != 100) failure = DatabaseErrorOf(status, watch);
  }
  if (result == 100) {
    eof_ = true;
    return;
  }
  if (failure) {
    const DatabaseError& error = *failure;
    if (error.Holds(kNoCursor)) {
      eof_ = true;
      return;
    }
    NoteLost(error);
    CloseQuietly();
    error.Raise();
  }
  // A column that cannot be NULL leaves the indicator alone.
  for (const auto& field : fields_) {
    if ((static_cast<XSQLVAR*>(field->var_)->sqltype & 1) == 0) field->nullIndicator_ = 0;
  }
  ++recordCount_;
}

void TIBSQL::Close() {
  const bool wasOpen = open_;
  open_ = false;
  eof_ = false;
  recordCount_ = 0;
  if (!wasOpen || handle_ == 0 || !ServerReachable()) return;
  ISC_STATUS_ARRAY status{};
  const WatchedCall watch(database_->HandleAddress(), "close cursor");
  if (Api().dsql_free_statement(status, &handle_, DSQL_close) == 0) return;
  const DatabaseError error = DatabaseErrorOf(status, watch);
  if (!error.Holds(kBadStatementHandle) && !error.Holds(kCursorAlreadyClosed)) Raise(error);
}

TIBXSQLVAR* TIBSQL::FindByName(std::vector<std::unique_ptr<TIBXSQLVAR>>& list, std::string_view name) {
  const int dialect = database_ != nullptr ? database_->SQLDialect() : 3;
  const std::string wanted = LookupName(name, dialect);
  for (const auto& var : list) {
    if (var->name_ == wanted) return var.get();
  }
  return nullptr;
}

TIBXSQLVAR& TIBSQL::ParamByName(std::string_view name) {
  if (!prepared_) Prepare();
  TIBXSQLVAR* param = FindByName(params_, name);
  if (param == nullptr) RaiseClientError(kFieldNotFound, std::string(name));
  return *param;
}

TIBXSQLVAR& TIBSQL::FieldByName(std::string_view name) {
  TIBXSQLVAR* field = FindByName(fields_, name);
  if (field == nullptr) RaiseClientError(kFieldNotFound, std::string(name));
  return *field;
}

TIBXSQLVAR& TIBSQL::Fields(int index) {
  if (index < 0 || index >= static_cast<int>(fields_.size())) {
    RaiseClientError(kFieldNotFound, std::to_string(index));
  }
  return *fields_[static_cast<std::size_t>(index)];
}

}  // namespace korvane
