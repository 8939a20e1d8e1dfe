#include "support/EngineMonitor.h"

#include <string>
#include <thread>

#include "db/IBSQL.h"
#include "db/IBTransaction.h"

namespace korvane::testing {

namespace {

// The engine's monitoring state of a running statement.
constexpr int kStatementActive = 1;

bool AnotherIsRunning(TIBDatabase& database, std::string_view textStart) {
  // Each look is a transaction of its own: the monitoring tables hold still within one.
  TIBTransaction look(&database);
  TIBSQL sql(&database);
  sql.SetTransaction(&look);
  sql.AddLine("SELECT COUNT(*) FROM MON$STATEMENTS");
  sql.AddLine("WHERE MON$STATE = " + std::to_string(kStatementActive) + " AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
  sql.AddLine("AND MON$SQL_TEXT STARTING WITH '" + std::string(textStart) + "'");
  look.StartTransaction();
  sql.ExecQuery();
  const bool running = sql.Fields(0).AsInteger() > 0;
  sql.Close();
  look.Commit();
  return running;
}

}  // namespace

bool WaitForStatementOfAnother(TIBDatabase& database, std::string_view textStart, std::chrono::milliseconds limit) {
  const auto giveUp = std::chrono::steady_clock::now() + limit;
  while (!AnotherIsRunning(database, textStart)) {
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace korvane::testing
