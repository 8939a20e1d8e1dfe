#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/ReadTransaction.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"

namespace korvane {
class TIBDatabase;
}  // namespace korvane

// The company's write lock, for a company whose setting asks what to do with a VAT number the
// table already holds ("PartitaIvaPresente..."): runs for one table take it in turn, each from its
// look under the lock to its insert's commit. It is the lock of that setting's own TABX rows,
// taken in a transaction of its own in which the run then looks again and writes. Everything of
// it is here: the wait and the transaction's parameters, the row lock, and the engine's lock
// timeout turned into the run's message.
namespace korvane::config {

// How long a run waits, counted by the engine, for another run's lock (held from its registry
// answer to its commit) and for row versions being cleaned up, before it gives up.
inline constexpr std::chrono::seconds kArchiveLockWait{10};

// The message of a run that waited for the archive (the lock, a row another run holds) as long
// as the lock wait allows, in vain.
inline constexpr const char* kArchiveBusyMessage = "Archivio occupato da un'altra importazione (riprovare)";

// The error with kArchiveBusyMessage.
Exception ArchiveBusy();

// The transaction parameters of a transaction that takes row locks: read committed, so that what
// a run that held them committed is seen, and a wait for a lock held by another transaction (or
// for row versions the engine is still cleaning up) of at most `lockWait`, whole seconds, counted
// by the engine itself.
std::vector<std::string> LockingTransactionParams(std::chrono::seconds lockWait);

// Runs `read`; a conflict the engine reports after the transaction's lock timeout (its text
// starts with "deadlock") is raised as ArchiveBusy instead.
void WithinLockTimeout(const std::function<void()>& read);

// Locks the TABX rows of the named setting in `transaction` (started, from
// LockingTransactionParams) until it ends, so that runs that take the same lock follow one
// another; the engine waits for a run that holds them, as long as the transaction's lock timeout.
// The rows keep their values. A wait that runs out raises ArchiveBusy.
void LockSettingRows(TIBDatabase& archive, TIBTransaction& transaction, std::string_view name);

// The lock of one setting's rows on one connection, with the transaction that holds it.
class WriteLock {
 public:
  WriteLock(TIBDatabase& archive, std::string settingName, std::chrono::seconds wait = kArchiveLockWait);
  // An active transaction is rolled back, which lets the lock go.
  ~WriteLock() = default;
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  // Starts the transaction and takes the lock, waiting for a run that holds it at most the wait;
  // ArchiveBusy when the wait runs out (the transaction stays active until Release).
  void Take();
  // True while the transaction is active: the lock taken, or being taken. A connection opened
  // anew has ended it.
  bool Held() const { return transaction_.InTransaction(); }
  // Rolls the transaction back: the lock goes, and whatever was written in it.
  void Release() { transaction_.Rollback(); }
  // The transaction that holds the lock, for the reads and the write made under it.
  TIBTransaction& Transaction() { return transaction_; }

 private:
  TIBDatabase& archive_;
  std::string settingName_;
  TIBTransaction transaction_;
};

// Runs `read` in a transaction of its own that waits as the lock's does, without taking the lock:
// what a run that held it committed is seen, a row another run holds is waited for at most
// `wait`, and a wait that runs out raises ArchiveBusy. Returns what `read` returns.
template <class Read>
auto ReadAsTheLockWaits(TIBDatabase& archive, Read&& read, std::chrono::seconds wait = kArchiveLockWait) {
  return ReadInTransaction(archive, LockingTransactionParams(wait), [&](TIBSQL& sql) {
    using Result = std::invoke_result_t<Read&, TIBSQL&>;
    if constexpr (std::is_void_v<Result>) {
      WithinLockTimeout([&] { read(sql); });
    } else {
      std::optional<Result> result;
      WithinLockTimeout([&] { result.emplace(read(sql)); });
      return std::move(*result);
    }
  });
}

}  // namespace korvane::config
