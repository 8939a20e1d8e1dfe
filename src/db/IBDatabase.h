#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/IBError.h"
#include "db/IBTransaction.h"

namespace korvane {

class TIBSQL;

namespace db {
class DatabaseError;
}  // namespace db

// One connection to a database through the client library. The library is loaded at the
// first Open in the process. All text of the connection travels in the databases' code page
// (db/DatabaseText.h).
class TIBDatabase {
 public:
  TIBDatabase();
  // Release: closes (forcing the close when a plain close fails), ends the transactions still
  // active on it by their default action, releases the transactions it owns; never throws.
  ~TIBDatabase();
  TIBDatabase(const TIBDatabase&) = delete;
  TIBDatabase& operator=(const TIBDatabase&) = delete;

  bool Connected() const { return handle_ != 0; }

  // Kept as the interface's calling order sets it (off before every open) and never read: no
  // login is ever prompted for.
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }

  // Params: lines "name=value", at most one per name (names compared without letter case).
  // Setting an empty value removes the line. Any change while connected fails.
  void ClearParams();
  void SetParam(const std::string& name, const std::string& value);
  const std::vector<std::string>& Params() const { return params_; }

  // The connection string (UTF-8). A different name while connected fails.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);

  void Open();
  void Close();
  // Opens the connection again after it was lost (db::ConnectionLost): closes it by force, which
  // ends its transactions and unprepares its statements on this side whatever the server says,
  // then opens it as Open does.
  void Reconnect();

  // True once a call found the connection gone (db::ConnectionLost), until it is closed. Closing
  // it then sends nothing for its statements and transactions, nor does releasing them meanwhile
  // (their handles are dropped on this side, the uncommitted work is lost with the connection),
  // and the detach only lets the client library release what it keeps for it.
  bool Lost() const { return lost_; }

  // The database's own read-only flag, read when the connection opened (false while closed).
  bool ReadOnly() const { return readOnly_; }

  int SQLDialect() const { return sqlDialect_; }
  int DBSQLDialect() const { return dbSqlDialect_; }

  // A transaction owned by this connection (its default database), released with it.
  TIBTransaction& CreateOwnedTransaction(TIBTransactionLevel level);

 private:
  friend class TIBTransaction;
  friend class TIBSQL;

  void CheckNotConnected() const;
  void ReadDatabaseInfo();
  void DoClose(bool force);
  void ForceClose() noexcept { DoClose(true); }
  void CloseLost() noexcept;
  // Marks the connection lost when `error` says it went away under the call.
  void NoteLost(const db::DatabaseError& error) noexcept;
  void AddTransaction(TIBTransaction* transaction);
  void RemoveTransaction(TIBTransaction* transaction) noexcept;
  void AddStatement(TIBSQL* statement);
  void RemoveStatement(TIBSQL* statement) noexcept;
  std::uint32_t* HandleAddress() { return &handle_; }

  std::uint32_t handle_ = 0;
  std::string databaseName_;
  std::vector<std::string> params_;
  bool paramsChanged_ = true;
  std::vector<std::uint8_t> dpb_;
  bool loginPrompt_ = true;
  int sqlDialect_ = 3;
  int dbSqlDialect_ = 3;
  bool readOnly_ = false;
  bool lost_ = false;
  std::vector<TIBTransaction*> transactions_;
  std::vector<TIBSQL*> statements_;
  std::vector<std::unique_ptr<TIBTransaction>> ownedTransactions_;
};

}  // namespace korvane
