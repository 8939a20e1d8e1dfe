#include "Firebird.h"

#include <ibase.h>

#include <cstring>
#include <memory>
#include <utility>

#include "serverlogin/ServerLogin.h"

namespace korvane::soak {

namespace {

static_assert(sizeof(isc_db_handle) == sizeof(std::uint32_t));

constexpr unsigned short kDialect = 3;

// The engine's text for a failed call, its lines joined by "; ".
[[noreturn]] void Raise(const ISC_STATUS* status, const std::string& what) {
  std::string text;
  const ISC_STATUS* vector = status;
  char line[1024];
  while (fb_interpret(line, sizeof line, &vector) > 0) {
    if (!text.empty()) text += "; ";
    text += line;
  }
  throw FirebirdError(what + ": " + text);
}

void Check(const ISC_STATUS* status, const std::string& what) {
  if (status[0] == 1 && status[1] != 0) Raise(status, what);
}

std::string LoginBlock() {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  for (const auto& [tag, value] : {std::pair<int, std::string>{isc_dpb_user_name, serverlogin::kUser},
                                   {isc_dpb_password, serverlogin::Password()}}) {
    dpb += static_cast<char>(tag);
    dpb += static_cast<char>(value.size());
    dpb += value;
  }
  return dpb;
}

// A transaction that ends by rollback unless committed.
class Transaction {
 public:
  Transaction(isc_db_handle* database, bool write) {
    static const char kWrite[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    static const char kRead[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                 isc_tpb_nowait};
    ISC_STATUS_ARRAY status;
    const char* tpb = write ? kWrite : kRead;
    const short length = static_cast<short>(write ? sizeof kWrite : sizeof kRead);
    isc_start_transaction(status, &handle_, 1, database, length, tpb);
    Check(status, "start transaction");
  }
  ~Transaction() {
    if (handle_ != 0) {
      ISC_STATUS_ARRAY status;
      isc_rollback_transaction(status, &handle_);
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    ISC_STATUS_ARRAY status;
    isc_commit_transaction(status, &handle_);
    Check(status, "commit");
  }
  isc_tr_handle* Handle() { return &handle_; }

 private:
  isc_tr_handle handle_ = 0;
};

// A statement handle allocated without handing the library its address to clear later.
class Statement {
 public:
  explicit Statement(isc_db_handle* database) {
    ISC_STATUS_ARRAY status;
    isc_dsql_allocate_statement(status, database, &handle_);
    Check(status, "allocate statement");
  }
  ~Statement() {
    ISC_STATUS_ARRAY status;
    if (handle_ != 0) isc_dsql_free_statement(status, &handle_, DSQL_drop);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  isc_stmt_handle* Handle() { return &handle_; }

 private:
  isc_stmt_handle handle_ = 0;
};

struct XsqldaDeleter {
  void operator()(XSQLDA* da) const { ::operator delete(da); }
};
using XsqldaPtr = std::unique_ptr<XSQLDA, XsqldaDeleter>;

XsqldaPtr NewXsqlda(short columns) {
  XsqldaPtr da(static_cast<XSQLDA*>(::operator new(XSQLDA_LENGTH(columns))));
  std::memset(da.get(), 0, XSQLDA_LENGTH(columns));
  da->version = SQLDA_VERSION1;
  da->sqln = columns;
  return da;
}

}  // namespace

Attachment Attachment::Create(const std::string& name) {
  Attachment attachment;
  ISC_STATUS_ARRAY status;
  isc_tr_handle transaction = 0;
  const std::string sql = "CREATE DATABASE '" + name + "' USER '" + serverlogin::kUser + "' PASSWORD '" +
                          serverlogin::Password() + "' PAGE_SIZE 4096 DEFAULT CHARACTER SET NONE";
  isc_dsql_execute_immediate(status, &attachment.handle_, &transaction, 0, sql.c_str(), kDialect, nullptr);
  Check(status, "create " + name);
  return attachment;
}

Attachment::Attachment(const std::string& name) {
  ISC_STATUS_ARRAY status;
  const std::string dpb = LoginBlock();
  isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &handle_, static_cast<short>(dpb.size()),
                      dpb.data());
  Check(status, "attach " + name);
}

Attachment::~Attachment() {
  try {
    Detach();
  } catch (const FirebirdError&) {
    // Nothing more can be done with a connection that will not close.
  }
}

Attachment::Attachment(Attachment&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}

Attachment& Attachment::operator=(Attachment&& other) noexcept {
  if (this != &other) {
    try {
      Detach();
    } catch (const FirebirdError&) {
    }
    handle_ = std::exchange(other.handle_, 0);
  }
  return *this;
}

void Attachment::Detach() {
  if (handle_ == 0) return;
  ISC_STATUS_ARRAY status;
  isc_detach_database(status, &handle_);
  handle_ = 0;
  Check(status, "detach");
}

void Attachment::Execute(const std::vector<std::string>& statements) {
  Transaction transaction(&handle_, true);
  for (const std::string& sql : statements) {
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, &handle_, transaction.Handle(), 0, sql.c_str(), kDialect, nullptr);
    Check(status, sql);
  }
  transaction.Commit();
}

std::vector<Row> Attachment::Query(const std::string& select) {
  Transaction transaction(&handle_, false);
  Statement statement(&handle_);
  ISC_STATUS_ARRAY status;
  XsqldaPtr out = NewXsqlda(1);
  isc_dsql_prepare(status, transaction.Handle(), statement.Handle(), 0, select.c_str(), kDialect, out.get());
  Check(status, select);
  if (out->sqld > out->sqln) {
    const short columns = out->sqld;
    out = NewXsqlda(columns);
    isc_dsql_describe(status, statement.Handle(), kDialect, out.get());
    Check(status, select);
  }
  std::vector<std::vector<char>> buffers(static_cast<std::size_t>(out->sqld));
  std::vector<short> nulls(static_cast<std::size_t>(out->sqld));
  for (int i = 0; i < out->sqld; ++i) {
    XSQLVAR& column = out->sqlvar[i];
    const int type = column.sqltype & ~1;
    if (type != SQL_TEXT && type != SQL_VARYING && type != SQL_SHORT && type != SQL_LONG && type != SQL_INT64) {
      throw FirebirdError("column " + std::to_string(i + 1) + " of a query is neither text nor an integer: " + select);
    }
    buffers[static_cast<std::size_t>(i)].resize(static_cast<std::size_t>(column.sqllen) + 2);
    column.sqldata = buffers[static_cast<std::size_t>(i)].data();
    column.sqlind = &nulls[static_cast<std::size_t>(i)];
    column.sqltype |= 1;
  }
  isc_dsql_execute(status, transaction.Handle(), statement.Handle(), kDialect, nullptr);
  Check(status, select);
  std::vector<Row> rows;
  while (true) {
    const ISC_STATUS fetched = isc_dsql_fetch(status, statement.Handle(), kDialect, out.get());
    if (fetched == 100) break;
    Check(status, select);
    Row row;
    for (int i = 0; i < out->sqld; ++i) {
      const XSQLVAR& column = out->sqlvar[i];
      if (*column.sqlind < 0) {
        row.emplace_back();
        continue;
      }
      const char* data = column.sqldata;
      switch (column.sqltype & ~1) {
        case SQL_TEXT: row.emplace_back(std::string(data, static_cast<std::size_t>(column.sqllen))); break;
        case SQL_VARYING: {
          short length = 0;
          std::memcpy(&length, data, sizeof length);
          row.emplace_back(std::string(data + sizeof length, static_cast<std::size_t>(length)));
          break;
        }
        case SQL_SHORT: {
          short value = 0;
          std::memcpy(&value, data, sizeof value);
          row.emplace_back(std::to_string(value));
          break;
        }
        case SQL_LONG: {
          ISC_LONG value = 0;
          std::memcpy(&value, data, sizeof value);
          row.emplace_back(std::to_string(value));
          break;
        }
        default: {
          ISC_INT64 value = 0;
          std::memcpy(&value, data, sizeof value);
          row.emplace_back(std::to_string(value));
          break;
        }
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace korvane::soak
