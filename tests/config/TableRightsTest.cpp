// The INSERT right as the engine's privileges give it, checked against what the engine itself
// does with an insert of the same login.
#include "config/TableRights.h"

#include <gtest/gtest.h>

#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane::config {
namespace {

TEST(CheckInsertRight, AgreesWithTheEngine) {
  testing::TempDir dir;
  const std::string archive = dir.File("archivio.fdb");
  testing::CreateDatabase(archive, testing::FixtureScript("archive.sql"));
  // The embedded engine takes the user name without a password, as the server takes a checked one.
  testing::RunIsql(archive,
                   "CREATE ROLE INSERITORI;\n"
                   "GRANT INSERT ON CLIENTI TO ROLE INSERITORI;\n"
                   "GRANT SELECT ON CLIENTI TO LETTORE;\n"
                   "GRANT INSERT, SELECT ON CLIENTI TO SCRITTORE;\n"
                   "GRANT INSERT ON FORNITO TO PUBLIC;\n"
                   "GRANT INSERITORI TO MEMBRO;\n"
                   "GRANT INSERT ON CLIENTI TO \"minuscolo\";\n");
  struct Case {
    std::string user, table;
    bool allowed;
  };
  const Case cases[] = {
      {"SYSDBA", "CLIENTI", true},        {"LETTORE", "CLIENTI", false},
      {"SCRITTORE", "CLIENTI", true},     {"SCRITTORE", "FORNITO", true},  // PUBLIC's
      {"NESSUNO", "CLIENTI", false},      {"MEMBRO", "CLIENTI", false},    // the role is not the connection's
      {"minuscolo", "CLIENTI", false},                                     // an unquoted name is the upper-case one
      {"\"minuscolo\"", "CLIENTI", true},
  };
  for (const Case& c : cases) {
    TIBDatabase database;
    OpenIBDatabaseFile(database, archive, DatabaseLogin{c.user, "x"});
    const std::string checked = testing::ErrorOf([&] { CheckInsertRight(database, c.table); });
    EXPECT_EQ(checked, c.allowed ? "" : "no permission for INSERT access to TABLE " + c.table) << c.user;
    // What the engine says of the insert itself (rolled back).
    TIBTransaction transaction(&database);
    transaction.SetDefaultAction(TIBTransactionAction::TARollback);
    transaction.StartTransaction();
    TIBSQL insert(&database);
    insert.SetTransaction(&transaction);
    insert.AddLine("INSERT INTO " + c.table + " (CODICE) VALUES ('PROVA')");
    const std::string engine = testing::ErrorOf([&] { insert.ExecQuery(); });
    transaction.Rollback();
    EXPECT_EQ(engine.empty(), c.allowed) << c.user << ": " << engine;
    if (!c.allowed) {
      EXPECT_TRUE(engine.starts_with(checked)) << engine;
    }
  }
  EXPECT_EQ(testing::QueryColumn(archive, "SELECT COUNT(*) FROM CLIENTI"),
            testing::QueryColumn(archive, "SELECT COUNT(*) FROM CLIENTI WHERE CODICE <> 'PROVA'"));
}

TEST(CheckUpdateRight, OnlyAnUpdateRightAllows) {
  testing::TempDir dir;
  const std::string archive = dir.File("archivio.fdb");
  testing::CreateDatabase(archive, testing::FixtureScript("archive.sql"));
  testing::RunIsql(archive,
                   "GRANT INSERT, SELECT ON CLIENTI TO SCRITTORE;\n"
                   "GRANT UPDATE, SELECT ON CLIENTI TO AGGIORNATORE;\n");
  const std::pair<const char*, bool> cases[] = {{"SYSDBA", true}, {"SCRITTORE", false}, {"AGGIORNATORE", true}};
  for (const auto& [user, allowed] : cases) {
    TIBDatabase database;
    OpenIBDatabaseFile(database, archive, DatabaseLogin{user, "x"});
    EXPECT_EQ(testing::ErrorOf([&] { CheckUpdateRight(database, "CLIENTI"); }),
              allowed ? "" : "no permission for UPDATE access to TABLE CLIENTI")
        << user;
  }
}

TEST(CheckInsertRight, TheOwnerOfTheTable) {
  testing::TempDir dir;
  const std::string archive = dir.File("proprio.fdb");
  testing::CreateDatabase(archive, testing::FixtureScript("archive.sql"));
  testing::RunIsql(archive, "GRANT CREATE TABLE TO PROPRIETARIO;\n");
  {
    TIBDatabase owner;
    OpenIBDatabaseFile(owner, archive, DatabaseLogin{"PROPRIETARIO", "x"});
    TIBTransaction transaction(&owner);
    transaction.StartTransaction();
    TIBSQL create(&owner);
    create.SetTransaction(&transaction);
    create.AddLine("CREATE TABLE PROPRIA (CODICE VARCHAR(10))");
    create.ExecQuery();
    transaction.Commit();
    EXPECT_EQ(testing::ErrorOf([&] { CheckInsertRight(owner, "PROPRIA"); }), "");
    EXPECT_EQ(testing::ErrorOf([&] { CheckInsertRight(owner, "CLIENTI"); }),
              "no permission for INSERT access to TABLE CLIENTI");
  }
}

}  // namespace
}  // namespace korvane::config
