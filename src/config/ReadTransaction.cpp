#include "config/ReadTransaction.h"

#include "db/IBDatabase.h"

namespace korvane::config {

void RunRead(TIBTransaction& transaction, const std::function<void(TIBSQL&)>& read) {
  TIBSQL sql(transaction.DefaultDatabase());
  sql.SetTransaction(&transaction);
  transaction.StartTransaction();
  try {
    read(sql);
  } catch (...) {
    try {
      transaction.Rollback();
    } catch (...) {
      // the read's own error is the one that counts
    }
    throw;
  }
  transaction.Commit();
}

}  // namespace korvane::config
