// Connections through the local database server (started by the firebird_server fixture).

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "LayerTest.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"

namespace korvane::testing {
namespace {

constexpr const char* kAliases = "/etc/firebird/3.0/databases.conf";

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

// Adds "alias = path" to the server's alias file for the life of the object.
class AliasLine {
 public:
  AliasLine(std::string alias, const std::string& path)
      : line_(std::move(alias) + " = " + path) {
    std::ofstream(kAliases, std::ios::app) << line_ << "\n";
  }
  ~AliasLine() {
    std::ifstream in(kAliases);
    std::ostringstream kept;
    for (std::string line; std::getline(in, line);) {
      if (line != line_) kept << line << "\n";
    }
    in.close();
    std::ofstream(kAliases, std::ios::trunc) << kept.str();
  }

 private:
  std::string line_;
};

TEST_F(ServerTest, AliasThroughTheServer) {
  const std::string alias = "korvane_test_" + std::to_string(getpid());
  AliasLine line(alias, Path());
  EXPECT_EQ(ReadThrough("localhost:" + alias), "served");
  EXPECT_EQ(ReadThrough("127.0.0.1:" + alias), "served");
}

}  // namespace
}  // namespace korvane::testing
