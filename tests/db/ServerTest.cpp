// Connections through the local database server (started by the firebird_server fixture).

#include <gtest/gtest.h>
#include <unistd.h>

#include "LayerTest.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"

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
  static std::string ReadThrough(const std::string& name, const std::string& password = kPassword) {
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

}  // namespace
}  // namespace korvane::testing
