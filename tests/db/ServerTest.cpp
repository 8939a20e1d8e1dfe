// Connections through the local database server (started by the firebird_server fixture).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "LayerTest.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "serverlogin/ServerLogin.h"
#include "support/TcpProxy.h"

namespace korvane::testing {
namespace {

class ServerTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    RunIsql(Path(), "INSERT INTO T (V) VALUES ('served');");
    GrantServerAccess(Path());
  }

  // The one value of T through a connection string.
  static std::string ReadThrough(const std::string& name, const std::string& password = serverlogin::Password()) {
    TIBDatabase database;
    Prepare(database, name);
    database.SetParam("password", password);
    TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
    TIBQuery query;
    query.SetDatabase(&database);
    query.SetTransaction(&transaction);
    query.AddLine("SELECT V FROM T");
    query.Open();
    return query.Fields(0).AsString();
  }
};

TEST_F(ServerTest, HostPathAndBackslashForm) {
  EXPECT_EQ(ReadThrough("localhost:" + Path()), "served");
  EXPECT_EQ(ReadThrough("\\\\localhost\\" + Path()), "served");
}

TEST_F(ServerTest, WrongPasswordGivesTheServerText) {
  const RaisedError raised = Raised([&] { ReadThrough("localhost:" + Path(), "wrong"); });
  EXPECT_EQ(raised.kind, "interbase");
  EXPECT_EQ(raised.message,
            "Your user name and password are not defined. Ask your database administrator to "
            "set up a Firebird login");
}

TEST_F(ServerTest, AliasThroughTheServer) {
  const std::string alias = "korvane_test_" + std::to_string(getpid());
  const ServerAlias configured(alias, Path());
  EXPECT_EQ(ReadThrough("localhost:" + alias), "served");
  EXPECT_EQ(ReadThrough("127.0.0.1:" + alias), "served");
}

// A connection the network (or a restarting server) took away is told apart from other errors,
// and opened again on the same object.
TEST_F(ServerTest, ALostConnectionIsToldAndOpenedAgain) {
  TcpProxy proxy;
  TIBDatabase database;
  Prepare(database, "127.0.0.1/" + std::to_string(proxy.Port()) + ":" + Path());
  database.Open();
  TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
  TIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&transaction);
  query.AddLine("SELECT V FROM T");
  query.Open();
  query.Close();
  transaction.Commit();

  proxy.DropConnections();
  bool lost = false;
  try {
    transaction.StartTransaction();
    query.Open();
  } catch (const EIBError& error) {
    lost = db::ConnectionLost(error);
    EXPECT_TRUE(lost) << error.Message() << " (" << error.IBErrorCode() << ")";
  }
  ASSERT_TRUE(lost);

  database.Reconnect();
  EXPECT_TRUE(database.Connected());
  EXPECT_FALSE(transaction.InTransaction());
  transaction.StartTransaction();
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "served");
  EXPECT_EQ(proxy.Connections(), 2);
}

// A statement released after its connection was lost, before the connection closes: closing the
// connection then writes nowhere into the memory the statement had (the client library used to
// keep the handle's address and zero it at the detach, into whatever lived there by then), and
// sends nothing for the statement and the transaction over the lost connection.
TEST_F(ServerTest, AStatementReleasedOverALostConnectionLeavesNothingBehind) {
  TcpProxy proxy;
  TIBDatabase database;
  Prepare(database, "127.0.0.1/" + std::to_string(proxy.Port()) + ":" + Path());
  database.Open();
  TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
  transaction.StartTransaction();
  // The statement's own storage, looked at after the statement is gone.
  alignas(TIBSQL) unsigned char place[sizeof(TIBSQL)];
  auto* sql = new (place) TIBSQL(&database);
  sql->SetTransaction(&transaction);
  sql->AddLine("SELECT V FROM T");
  sql->Prepare();
  proxy.DropConnections();
  const RaisedError raised = Raised([&] { sql->ExecQuery(); });
  EXPECT_EQ(raised.kind, "interbase") << raised.message;
  EXPECT_TRUE(database.Lost());
  sql->~TIBSQL();
  std::memset(place, 0xA5, sizeof place);

  database.Close();
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(database.Lost());
  EXPECT_FALSE(transaction.InTransaction());
  EXPECT_EQ(std::count(std::begin(place), std::end(place), 0xA5), static_cast<std::ptrdiff_t>(sizeof place));

  // The object opens again as any closed connection does.
  database.Open();
  transaction.StartTransaction();
  TIBSQL again(&database);
  again.SetTransaction(&transaction);
  again.AddLine("SELECT V FROM T");
  again.ExecQuery();
  EXPECT_EQ(again.Fields(0).AsString(), "served");
}

}  // namespace
}  // namespace korvane::testing
