#include "db/IBDatabase.h"

#include <gtest/gtest.h>

#include <memory>

#include "LayerTest.h"
#include "db/IBSQL.h"
#include "support/RunProgram.h"

namespace korvane::testing {
namespace {

class DatabaseTest : public LayerTest {};

// Inserts one row into T in its own transaction and leaves the transaction active.
TIBTransaction& InsertUncommitted(TIBDatabase& database, const std::string& value) {
  TIBTransaction& transaction = database.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot);
  transaction.StartTransaction();
  TIBSQL insert(&database);
  insert.SetTransaction(&transaction);
  insert.AddLine("INSERT INTO T (V) VALUES (:V)");
  insert.ParamByName("V").SetAsString(value);
  insert.ExecQuery();
  return transaction;
}

TEST_F(DatabaseTest, OpenCloseReopenAreIdempotent) {
  TIBDatabase database;
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.DBSQLDialect(), 3);
  database.Close();  // silent while closed
  Prepare(database, Path());
  database.Open();
  EXPECT_TRUE(database.Connected());
  database.Open();  // silent while open
  EXPECT_EQ(database.SQLDialect(), 3);
  EXPECT_EQ(database.DBSQLDialect(), 3);
  database.Close();
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.DBSQLDialect(), 1);
  database.Close();
  database.Open();
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(database.DBSQLDialect(), 3);
}

TEST_F(DatabaseTest, ParamsAndNameAreLockedWhileConnected) {
  TIBDatabase database;
  Prepare(database, Path());
  database.Open();
  const std::string locked = "Cannot perform operation -- DB is currently open";
  EXPECT_CLIENT_ERROR(database.SetParam("password", "other"), 16, locked);
  EXPECT_CLIENT_ERROR(database.SetParam("password", ""), 16, locked);
  EXPECT_CLIENT_ERROR(database.ClearParams(), 16, locked);
  EXPECT_CLIENT_ERROR(database.SetDatabaseName(Path() + "x"), 16, locked);
  database.SetDatabaseName(Path());   // the same name is accepted
  database.SetParam("lc_ctype", "");  // removing a line that is not there changes nothing
  EXPECT_EQ(database.Params(),
            (std::vector<std::string>{"user_name=SYSDBA", std::string("password=") + kBuiltInPassword}));
  EXPECT_TRUE(database.Connected());
}

TEST_F(DatabaseTest, SetParamKeepsOneLinePerName) {
  TIBDatabase database;
  database.SetParam("user_name", "A");
  database.SetParam("password", "B");
  database.SetParam("USER_NAME", "C");
  EXPECT_EQ(database.Params(), (std::vector<std::string>{"USER_NAME=C", "password=B"}));
  database.SetParam("User_Name", "");
  EXPECT_EQ(database.Params(), (std::vector<std::string>{"password=B"}));
}

TEST_F(DatabaseTest, FailedOpensLeaveItClosedAndReopenable) {
  TIBDatabase database;
  Prepare(database, "");
  EXPECT_CLIENT_ERROR(database.Open(), 17, "Database name is missing");
  EXPECT_FALSE(database.Connected());

  database.SetDatabaseName(dir_.File("missing.fdb"));
  const RaisedError missing = Raised([&] { database.Open(); });
  EXPECT_EQ(missing.kind, "interbase");
  EXPECT_EQ(
      missing.message.rfind("I/O error during \"open\" operation for file \"" + dir_.File("missing.fdb") + "\"\r\n", 0),
      0u)
      << missing.message;
  EXPECT_NE(missing.message.back(), '.');
  for (std::size_t i = missing.message.find('\n'); i != std::string::npos; i = missing.message.find('\n', i + 1)) {
    EXPECT_EQ(missing.message[i - 1], '\r') << missing.message;
  }
  EXPECT_NE(missing.ibErrorCode, 0);
  EXPECT_FALSE(database.Connected());

  database.SetParam("lc_ctype", "WIN1252");
  database.SetDatabaseName(Path());
  EXPECT_CLIENT_ERROR(database.Open(), 114, "DPB Constant (lc_ctype) is unknown");
  EXPECT_FALSE(database.Connected());
  database.SetParam("lc_ctype", "");
  database.Open();
  EXPECT_TRUE(database.Connected());
}

// The database's own flag, set by the administrator's tool, read with the dialect at the open.
TEST_F(DatabaseTest, ReadOnlyIsTheDatabasesOwnFlag) {
  TIBDatabase database;
  Prepare(database, Path());
  database.Open();
  EXPECT_FALSE(database.ReadOnly());
  database.Close();
  const ProgramResult gfix = RunProgram("/usr/bin/gfix", {"-user", kUserName, "-mode", "read_only", Path()});
  ASSERT_EQ(gfix.exitCode, 0) << gfix.out << gfix.err;
  database.Open();
  EXPECT_TRUE(database.ReadOnly());
  EXPECT_EQ(database.DBSQLDialect(), 3);
  database.Close();
  EXPECT_FALSE(database.ReadOnly());
}

TEST_F(DatabaseTest, DialectOneDatabaseLowersTheConnectionForGood) {
  const std::string oldPath = dir_.File("dialect1.fdb");
  CreateDatabase(oldPath, LayerScript(), 1);
  TIBDatabase database;
  Prepare(database, oldPath);
  database.Open();
  EXPECT_EQ(database.DBSQLDialect(), 1);
  EXPECT_EQ(database.SQLDialect(), 1);
  database.Close();
  database.SetDatabaseName(Path());
  database.Open();
  EXPECT_EQ(database.DBSQLDialect(), 3);
  EXPECT_EQ(database.SQLDialect(), 1);
}

TEST_F(DatabaseTest, ReleaseCommitsActiveTransactions) {
  TIBTransaction outside;  // not owned by the connection, outlives it
  {
    TIBDatabase database;
    Prepare(database, Path());
    database.Open();
    InsertUncommitted(database, "owned");
    outside.SetDefaultDatabase(&database);
    outside.StartTransaction();
    TIBSQL insert(&database);
    insert.SetTransaction(&outside);
    insert.AddLine("INSERT INTO T (V) VALUES ('outside')");
    insert.ExecQuery();
  }
  EXPECT_FALSE(outside.InTransaction());
  EXPECT_EQ(outside.DefaultDatabase(), nullptr);
  EXPECT_EQ(QueryColumn(Path(), "SELECT V FROM T ORDER BY V"), (std::vector<std::string>{"outside", "owned"}));
}

TEST_F(DatabaseTest, CloseCommitsAndUnpreparesItsStatements) {
  TIBDatabase database;
  Prepare(database, Path());
  database.Open();
  TIBTransaction& transaction = InsertUncommitted(database, "closed");
  TIBSQL select(&database);
  select.SetTransaction(&transaction);
  select.AddLine("SELECT V FROM T");
  select.ExecQuery();
  database.Close();
  EXPECT_FALSE(transaction.InTransaction());
  EXPECT_FALSE(select.Prepared());
  EXPECT_FALSE(select.Open());
  database.Open();
  transaction.StartTransaction();
  select.ExecQuery();
  EXPECT_EQ(select.FieldByName("V").AsString(), "closed");
}

// A commit that the database refuses: an ON TRANSACTION COMMIT trigger raises an exception
// while T holds the row 'refuse'.
void InstallCommitGuard(TIBDatabase& database) {
  TIBTransaction ddl(&database);
  ddl.StartTransaction();
  TIBSQL sql(&database);
  sql.SetTransaction(&ddl);
  sql.SetParamCheck(false);
  sql.AddLine("CREATE EXCEPTION E_REFUSED 'Commit rifiutato: è così...'");
  sql.ExecQuery();
  ddl.Commit();
  ddl.StartTransaction();
  sql.ClearSQL();
  sql.AddLine("CREATE TRIGGER T_REFUSE ON TRANSACTION COMMIT AS BEGIN");
  sql.AddLine("IF (EXISTS(SELECT 1 FROM T WHERE V = 'refuse')) THEN EXCEPTION E_REFUSED;");
  sql.AddLine("END");
  sql.ExecQuery();
  ddl.Commit();
}

TEST_F(DatabaseTest, FailedCommitStaysActiveAndRollsBack) {
  TIBDatabase database;
  Prepare(database, Path());
  database.Open();
  InstallCommitGuard(database);
  TIBTransaction& transaction = InsertUncommitted(database, "refuse");
  const RaisedError refused = Raised([&] { transaction.Commit(); });
  EXPECT_EQ(refused.kind, "interbase");
  EXPECT_NE(refused.message.find("E_REFUSED\r\nCommit rifiutato: è così...\r\n"), std::string::npos) << refused.message;
  EXPECT_TRUE(transaction.InTransaction());
  transaction.Rollback();
  EXPECT_FALSE(transaction.InTransaction());
  EXPECT_CLIENT_ERROR(transaction.Rollback(), 18, "Transaction is not active");
  EXPECT_CLIENT_ERROR(transaction.Commit(), 18, "Transaction is not active");
}

TEST_F(DatabaseTest, ReleaseRollsBackSilentlyWhenTheCommitFails) {
  {
    TIBDatabase database;
    Prepare(database, Path());
    database.Open();
    InstallCommitGuard(database);
    InsertUncommitted(database, "refuse");
  }
  EXPECT_TRUE(QueryColumn(Path(), "SELECT V FROM T").empty());
}

TEST_F(DatabaseTest, TransactionStartChecks) {
  TIBTransaction loose;
  EXPECT_CLIENT_ERROR(loose.StartTransaction(), 21, "No databases are listed in transaction component");
  TIBDatabase database;
  Prepare(database, Path());
  TIBTransaction& transaction = database.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot);
  EXPECT_EQ(transaction.Params(), (std::vector<std::string>{"concurrency", "nowait"}));
  EXPECT_CLIENT_ERROR(transaction.StartTransaction(), 15, "Cannot perform operation -- DB is not open");
  database.Open();
  transaction.StartTransaction();
  EXPECT_CLIENT_ERROR(transaction.StartTransaction(), 19, "Transaction is active");
  EXPECT_CLIENT_ERROR(transaction.SetTransactionLevel(TIBTransactionLevel::ibtrDefault), 19, "Transaction is active");
  transaction.Params().push_back("sometimes");  // read at the next start only
  transaction.Commit();
  EXPECT_CLIENT_ERROR(transaction.StartTransaction(), 115, "TPB Constant (sometimes) is unknown");
  EXPECT_FALSE(transaction.InTransaction());
}

}  // namespace
}  // namespace korvane::testing
