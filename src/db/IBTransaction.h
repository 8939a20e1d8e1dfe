#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class TIBDatabase;
class TIBSQL;

namespace db {
class DatabaseError;
}  // namespace db

// Ready-made transaction parameter lists.
enum class TIBTransactionLevel {
  ibtrDefault,   // empty list: the server's defaults
  ibtrSnapshot,  // "concurrency", "nowait"
};

// How an active transaction is ended when it is released or its connection closes.
enum class TIBTransactionAction { TARollback, TACommit, TARollbackRetaining, TACommitRetaining };

class TIBTransaction {
 public:
  explicit TIBTransaction(TIBDatabase* defaultDatabase = nullptr,
                          TIBTransactionLevel level = TIBTransactionLevel::ibtrDefault);
  // Release: an active transaction is ended by DefaultAction; never throws.
  ~TIBTransaction();
  TIBTransaction(const TIBTransaction&) = delete;
  TIBTransaction& operator=(const TIBTransaction&) = delete;

  TIBDatabase* DefaultDatabase() const { return defaultDatabase_; }
  void SetDefaultDatabase(TIBDatabase* database);

  // Replaces Params by the level's lines; fails while active.
  void SetTransactionLevel(TIBTransactionLevel level);
  // Parameter names, one per line; read at the next start.
  std::vector<std::string>& Params() { return params_; }
  const std::vector<std::string>& Params() const { return params_; }

  TIBTransactionAction DefaultAction() const { return defaultAction_; }
  void SetDefaultAction(TIBTransactionAction action) { defaultAction_ = action; }
  // Always: nothing in the program keeps a query from starting its transaction itself.
  bool AllowAutoStart() const { return true; }

  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return handle_ != 0; }
  // The server's number of the active transaction: the record version of every row it writes.
  std::int64_t Id();
  bool Active() const { return InTransaction(); }

 private:
  friend class TIBDatabase;
  friend class TIBSQL;

  // Ends an active transaction by DefaultAction (a failed commit is rolled back); the handle
  // is dropped whatever happens and nothing is raised.
  void ForcedEnd() noexcept;
  // Marks its connections lost when `error` of one of its calls says they went away.
  void NoteLost(const db::DatabaseError& error) noexcept;
  void AddDatabase(TIBDatabase* database);
  void RemoveDatabase(TIBDatabase* database) noexcept;
  void AddStatement(TIBSQL* statement);
  void RemoveStatement(TIBSQL* statement) noexcept;
  void CloseStatementCursors();
  void End(bool commit);
  std::uint32_t* HandleAddress() { return &handle_; }
  // The connection whose calls the watchdog cancels for this transaction's calls.
  const std::uint32_t* WatchedDatabase() const;
  // How long the engine itself may wait for a lock in this transaction (its lock timeout), given
  // to each of its statements' calls on top of their bound.
  std::chrono::milliseconds LockWait() const { return lockWait_; }

  std::uint32_t handle_ = 0;
  TIBDatabase* defaultDatabase_ = nullptr;
  std::vector<TIBDatabase*> databases_;
  std::vector<TIBSQL*> statements_;
  std::vector<std::string> params_;
  std::vector<std::string> builtParams_;  // the list the TPB was built from
  bool tpbBuilt_ = false;
  std::vector<std::uint8_t> tpb_;
  std::chrono::milliseconds lockWait_{0};
  TIBTransactionAction defaultAction_ = TIBTransactionAction::TACommit;
};

}  // namespace korvane
