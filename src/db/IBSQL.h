#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBError.h"
#include "db/IBTransaction.h"
#include "db/IBXSQLVAR.h"

namespace korvane::db {
class DatabaseError;
}  // namespace korvane::db

namespace korvane {

// Statement types as the server numbers them.
enum class TIBSQLTypes {
  SQLUnknown = 0,
  SQLSelect = 1,
  SQLInsert = 2,
  SQLUpdate = 3,
  SQLDelete = 4,
  SQLDDL = 5,
  SQLGetSegment = 6,
  SQLPutSegment = 7,
  SQLExecProcedure = 8,
  SQLStartTransaction = 9,
  SQLCommit = 10,
  SQLRollback = 11,
  SQLSelectForUpdate = 12,
  SQLSetGenerator = 13,
};

// One statement on a connection and a transaction.
class TIBSQL {
 public:
  explicit TIBSQL(TIBDatabase* database = nullptr);
  // Release: closes the cursor and drops the statement without raising, then releases an owned
  // transaction (which ends it by its default action).
  ~TIBSQL();
  TIBSQL(const TIBSQL&) = delete;
  TIBSQL& operator=(const TIBSQL&) = delete;

  TIBDatabase* Database() const { return database_; }
  void SetDatabase(TIBDatabase* database);
  TIBTransaction* Transaction() const { return transaction_; }
  void SetTransaction(TIBTransaction* transaction);
  // The statement owns this transaction and releases it with itself; also sets it as Transaction.
  TIBTransaction& OwnTransaction(std::unique_ptr<TIBTransaction> transaction);

  void AddLine(std::string_view line);
  void ClearSQL();
  // Replaces the lines by the text split at its line breaks.
  void SetSQLText(std::string_view text);
  const std::vector<std::string>& SQL() const { return sql_; }

  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool check) { paramCheck_ = check; }
  bool GoToFirstRecordOnExecute() const { return goToFirstRecord_; }
  void SetGoToFirstRecordOnExecute(bool go) { goToFirstRecord_ = go; }

  void Prepare();
  void ExecQuery();
  void Next();
  void Close();

  bool Prepared() const { return prepared_; }
  bool Open() const { return open_; }
  bool Eof() const { return eof_; }
  int RecordCount() const { return recordCount_; }
  TIBSQLTypes SQLType() const { return sqlType_; }
  // The text actually prepared (markers replaced), lines joined with CR LF.
  const std::string& ProcessedSQL() const { return processedSQL_; }

  TIBXSQLVAR& ParamByName(std::string_view name);
  int ParamCount() const { return static_cast<int>(params_.size()); }
  TIBXSQLVAR& FieldByName(std::string_view name);
  TIBXSQLVAR& Fields(int index);
  int FieldCount() const { return static_cast<int>(fields_.size()); }

 private:
  friend class TIBXSQLVAR;
  friend class TIBDatabase;
  friend class TIBTransaction;
  friend class TIBQuery;

  // The text to prepare and the names of its markers, in marker order.
  struct ConvertedSQL {
    std::string text;
    std::vector<std::string> names;
  };

  // The lines joined with CR LF, markers made positional when ParamCheck is on.
  ConvertedSQL ConvertSQL() const;
  // Prepare with the text the caller converted already (the query object measures it first),
  // or, given none, converted here.
  void Prepare(const ConvertedSQL* converted);
  void CheckReady() const;  // connection and transaction assigned, open and active
  unsigned short Dialect() const { return static_cast<unsigned short>(database_->SQLDialect()); }
  // The connection is open and not known to be lost.
  bool ServerReachable() const noexcept;
  // Marks the connection lost when `error` says it went away under the call.
  void NoteLost(const db::DatabaseError& error) const noexcept;
  // Raises `error`, noting first on the connection that it is lost when the error says so.
  [[noreturn]] void Raise(const db::DatabaseError& error) const;
  void FreeHandle() noexcept;
  void Unprepare() noexcept;
  void CloseQuietly() noexcept;
  void DatabaseClosing() noexcept;
  void DatabaseGone() noexcept;
  void TransactionGone() noexcept;
  // One value object per described parameter (named after its marker) or column.
  void BindParams(const std::vector<std::string>& names);
  void BindFields();
  TIBXSQLVAR* FindByName(std::vector<std::unique_ptr<TIBXSQLVAR>>& list, std::string_view name);

  TIBDatabase* database_ = nullptr;
  TIBTransaction* transaction_ = nullptr;
  std::unique_ptr<TIBTransaction> ownedTransaction_;
  std::vector<std::string> sql_;
  bool paramCheck_ = true;
  bool goToFirstRecord_ = true;
  std::uint32_t handle_ = 0;
  bool prepared_ = false;
  bool open_ = false;
  bool eof_ = false;
  int recordCount_ = 0;
  TIBSQLTypes sqlType_ = TIBSQLTypes::SQLUnknown;
  std::string processedSQL_;
  std::vector<char> inDescriptor_;   // XSQLDA storage
  std::vector<char> outDescriptor_;  // XSQLDA storage
  std::vector<std::unique_ptr<TIBXSQLVAR>> params_;
  std::vector<std::unique_ptr<TIBXSQLVAR>> fields_;
};

}  // namespace korvane
