// Every database call is bounded: a connection that goes silent (through a relay that stops
// passing anything on, its sockets left open) has its call given up within the bound and a grace,
// and an engine that keeps a call waiting has it cancelled at the bound.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "LayerTest.h"
#include "db/CallBound.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "support/TcpProxy.h"
#include "support/TimeMargin.h"

namespace korvane::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// What a bounded call ended with, and when.
struct Ending {
  std::string message;
  bool noAnswer = false;
  bool lost = false;
  bool raised = false;
  milliseconds took{0};
};

Ending Timed(const std::function<void()>& action) {
  const auto start = Clock::now();
  Ending ending;
  try {
    action();
  } catch (const EIBError& error) {
    ending = {error.Message(), error.NoAnswer(), error.ConnectionLost(), true};
  }
  ending.took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  return ending;
}

class CallBoundTest : public LayerTest {
 protected:
  static constexpr seconds kBound{2};
  // Time for the relay, the engine and a loaded machine, on top of a bound; a call the bound does
  // not end waits for the relay, which stays silent for good.
  static constexpr milliseconds kMargin = testing::kLoadedMachineMargin;

  void SetUp() override {
    LayerTest::SetUp();
    RunIsql(Path(), "INSERT INTO T (ID, V) VALUES (1, 'served');");
    GrantServerAccess(Path());
    db::SetCallTimeout(kBound);
  }
  void TearDown() override { db::SetCallTimeout(db::kDefaultCallTimeout); }

  std::string Relayed() const { return "127.0.0.1/" + std::to_string(proxy_.Port()) + ":" + Path(); }

  TcpProxy proxy_;
};

// A connection through the relay, a transaction and a statement on it; the relay goes silent
// right before the step, whose call is then given up.
TEST_F(CallBoundTest, ASilentConnectionGivesEachCallUpWithinItsBound) {
  struct Step {
    const char* name;
    // Runs up to the step, then the step itself after `silence`.
    std::function<void(TIBDatabase&, TIBTransaction&, TIBSQL&, const std::function<void()>& silence)> run;
    bool connected;  // the step has a connection to cancel (an attach has none)
    const char* call;
  };
  const std::vector<Step> steps{
      {"attach",
       [](TIBDatabase& database, TIBTransaction&, TIBSQL&, const auto& silence) {
         silence();
         database.Open();
       },
       false, "attach"},
      {"prepare",
       [](TIBDatabase& database, TIBTransaction& transaction, TIBSQL& sql, const auto& silence) {
         database.Open();
         transaction.StartTransaction();
         silence();
         sql.Prepare();
       },
       true, "prepare"},
      {"execute",
       [](TIBDatabase& database, TIBTransaction& transaction, TIBSQL& sql, const auto& silence) {
         database.Open();
         transaction.StartTransaction();
         sql.Prepare();
         silence();
         sql.ExecQuery();
       },
       // The library sends a query's execute with its first fetch, and waits there.
       true, "fetch"},
      {"commit",
       [](TIBDatabase& database, TIBTransaction& transaction, TIBSQL& sql, const auto& silence) {
         database.Open();
         transaction.StartTransaction();
         sql.ExecQuery();
         sql.Close();
         silence();
         transaction.Commit();
       },
       true, "commit"},
      {"start transaction",
       [](TIBDatabase& database, TIBTransaction& transaction, TIBSQL&, const auto& silence) {
         database.Open();
         silence();
         transaction.StartTransaction();
       },
       true, "start transaction"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    TcpProxy proxy;
    TIBDatabase database;
    Prepare(database, "127.0.0.1/" + std::to_string(proxy.Port()) + ":" + Path());
    TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
    TIBSQL sql(&database);
    sql.SetTransaction(&transaction);
    sql.AddLine("SELECT V FROM T");
    const auto silence = [&] { proxy.StallWhen([] { return true; }); };
    const Ending ending = Timed([&] { step.run(database, transaction, sql, silence); });
    EXPECT_TRUE(proxy.Stalled());
    EXPECT_TRUE(ending.noAnswer) << ending.message;
    EXPECT_EQ(ending.message, std::string("Il database non risponde (") + step.call + ")");
    // A call on a connection is cancelled, then the connection closed on this side; an attach
    // is left to its thread at the bound.
    EXPECT_EQ(ending.lost, step.connected);
    const milliseconds bound = step.connected ? kBound + db::kAbortGrace : milliseconds(kBound);
    EXPECT_GE(ending.took, bound - milliseconds(50));
    EXPECT_LE(ending.took, bound + kMargin);
    std::printf("[ bound    ] %s: %lld ms\n", step.name, static_cast<long long>(ending.took.count()));
    // Closing it then sends nothing that could wait (a call sent would wait a bound); the object
    // opens again.
    const Ending closing = Timed([&] { database.Close(); });
    EXPECT_FALSE(closing.raised) << closing.message;
    EXPECT_LT(closing.took, milliseconds(kBound));
    EXPECT_FALSE(database.Connected());
    database.Open();
    transaction.StartTransaction();
    sql.ExecQuery();
    EXPECT_EQ(sql.Fields(0).AsString(), "served");
  }
}

// A detach that is not answered is given up the same way; the connection is closed all the same.
TEST_F(CallBoundTest, ADetachWithoutAnAnswerIsGivenUp) {
  TIBDatabase database;
  Prepare(database, Relayed());
  database.Open();
  proxy_.StallWhen([] { return true; });
  const Ending ending = Timed([&] { database.Close(); });
  EXPECT_FALSE(ending.raised) << ending.message;
  EXPECT_FALSE(database.Connected());
  EXPECT_LE(ending.took, kBound + db::kAbortGrace + kMargin);
}

// A call whose failure nobody hears of (the rollback of a transaction let go) still closes its
// silent connection; the next call on it says that the database does not answer, with the
// caller's purpose, not the library's words for a closed connection.
TEST_F(CallBoundTest, ACallAfterAQuietlyGivenUpOneSaysTheDatabaseDoesNotAnswer) {
  TIBDatabase database;
  Prepare(database, Relayed());
  database.Open();
  {
    TIBTransaction letGo(&database, TIBTransactionLevel::ibtrSnapshot);
    letGo.StartTransaction();
    proxy_.StallWhen([] { return true; });
  }
  EXPECT_TRUE(proxy_.Stalled());
  TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
  TIBSQL sql(&database);
  sql.SetTransaction(&transaction);
  sql.AddLine("SELECT V FROM T");
  const db::CallPurpose purpose("lettura dell'archivio");
  const Ending ending = Timed([&] {
    transaction.StartTransaction();
    sql.ExecQuery();
  });
  EXPECT_EQ(ending.message, "Il database non risponde (lettura dell'archivio)");
  EXPECT_TRUE(ending.noAnswer);
  EXPECT_TRUE(ending.lost);
  // A new connection of the same object answers as usual.
  database.Reconnect();
  transaction.StartTransaction();
  sql.ExecQuery();
  EXPECT_EQ(sql.Fields(0).AsString(), "served");
}

// What the caller was doing names the call in the message; a deadline bounds a sequence of calls
// as a whole, whatever the bound of each.
TEST_F(CallBoundTest, APurposeNamesTheCallAndADeadlineBoundsASequence) {
  db::SetCallTimeout(seconds(60));
  TIBDatabase database;
  Prepare(database, Relayed());
  database.Open();
  TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
  transaction.StartTransaction();
  TIBSQL sql(&database);
  sql.SetTransaction(&transaction);
  sql.AddLine("SELECT V FROM T");
  const db::CallDeadline deadline(Clock::now() + seconds(1));
  const db::CallPurpose purpose("lettura dell'archivio");
  proxy_.StallWhen([] { return true; });
  const Ending ending = Timed([&] { sql.ExecQuery(); });
  EXPECT_EQ(ending.message, "Il database non risponde (lettura dell'archivio)");
  EXPECT_LE(ending.took, seconds(1) + db::kAbortGrace + kMargin);
}

// An engine that keeps a call waiting (a lock held by another connection, a transaction that
// waits without a lock timeout) has the call cancelled at the bound; the connection stays usable.
// A transaction with a lock timeout gets it on top of the bound: the engine's answer comes first.
TEST_F(CallBoundTest, AWaitingEngineIsCancelledAtTheBoundAndALockTimeoutCountsOnTop) {
  TIBDatabase holder;
  Prepare(holder, Path());
  holder.Open();
  TIBTransaction holding(&holder, TIBTransactionLevel::ibtrSnapshot);
  holding.StartTransaction();
  TIBSQL update(&holder);
  update.SetTransaction(&holding);
  update.AddLine("UPDATE T SET V = 'held' WHERE ID = 1");
  update.ExecQuery();

  TIBDatabase database;
  Prepare(database, Path());
  database.Open();
  const auto lockTheRow = [&](std::vector<std::string> params) {
    TIBTransaction transaction(&database);
    transaction.Params() = std::move(params);
    transaction.StartTransaction();
    TIBSQL sql(&database);
    sql.SetTransaction(&transaction);
    sql.AddLine("UPDATE T SET V = 'mine' WHERE ID = 1");
    const Ending ending = Timed([&] { sql.ExecQuery(); });
    transaction.Rollback();
    return ending;
  };
  const Ending waiting = lockTheRow({"read_committed", "rec_version", "wait"});
  EXPECT_TRUE(waiting.noAnswer) << waiting.message;
  EXPECT_FALSE(waiting.lost);
  EXPECT_EQ(waiting.message, "Il database non risponde (execute)");
  EXPECT_GE(waiting.took, kBound - milliseconds(50));
  EXPECT_LE(waiting.took, kBound + kMargin);

  // The engine counts its lock timeout in whole seconds of its own clock: it answers within the
  // last of them.
  const Ending timedOut = lockTheRow({"read_committed", "rec_version", "wait", "lock_timeout=4"});
  EXPECT_TRUE(timedOut.raised);
  EXPECT_FALSE(timedOut.noAnswer) << timedOut.message;
  EXPECT_GE(timedOut.took, kBound + milliseconds(500));
  EXPECT_TRUE(database.Connected());
}

}  // namespace
}  // namespace korvane::testing
