#include "config/WriteLock.h"

#include "config/SqlLiteral.h"
#include "db/IBDatabase.h"
#include "db/IBError.h"
#include "db/IBSQL.h"

namespace korvane::config {

Exception ArchiveBusy() { return Exception(kArchiveBusyMessage); }

std::vector<std::string> LockingTransactionParams(std::chrono::seconds lockWait) {
  return {"read_committed", "rec_version", "wait", "lock_timeout=" + std::to_string(lockWait.count())};
}

void WithinLockTimeout(const std::function<void()>& read) {
  try {
    read();
  } catch (const EIBError& error) {
    if (db::LockHeldElsewhere(error)) throw ArchiveBusy();
    throw;
  }
}

void LockSettingRows(TIBDatabase& archive, TIBTransaction& transaction, std::string_view name) {
  TIBSQL sql(&archive);
  sql.SetTransaction(&transaction);
  // The lock rewrites each row as it is, which a reader never waits for.
  sql.AddLine("SELECT NOME FROM TABX");
  sql.AddLine("WHERE (NOME='" + DoubleApostrophes(name) + "')");
  sql.AddLine("WITH LOCK");
  WithinLockTimeout([&] {
    // Each row is locked as it is fetched.
    for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
    }
    sql.Close();
  });
}

WriteLock::WriteLock(TIBDatabase& archive, std::string settingName, std::chrono::seconds wait)
    : archive_(archive), settingName_(std::move(settingName)), transaction_(&archive) {
  transaction_.Params() = LockingTransactionParams(wait);
  transaction_.SetDefaultAction(TIBTransactionAction::TARollback);
}

void WriteLock::Take() {
  transaction_.StartTransaction();
  LockSettingRows(archive_, transaction_, settingName_);
}

}  // namespace korvane::config
