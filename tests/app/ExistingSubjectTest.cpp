#include "app/subject/ExistingSubject.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "config/QelDBUtility.h"
#include "config/WriteLock.h"
#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "platform/MachineTurn.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

std::string Subject(const std::string& table, const std::string& codice, const std::string& pi) {
  return "INSERT INTO " + table + " (CODICE, PI) VALUES ('" + codice + "', " + pi + ");\n";
}

class ExistingSubjectTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql")); }

  // The code found in `table` for `piva`, or "none".
  std::string Find(const std::string& table, const std::string& piva) {
    TIBDatabase archive;
    OpenIBDatabaseFile(archive, archive_);
    TIBTransaction transaction(&archive, TIBTransactionLevel::ibtrSnapshot);
    transaction.StartTransaction();
    const auto codice = FindSubjectByVatNumber(archive, transaction, table, piva);
    transaction.Commit();
    return codice.value_or("none");
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.File("archivio.fdb");
};

TEST_F(ExistingSubjectTest, TheFormsOfOneNumberMatch) {
  struct Case {
    std::string stored, piva, found;
  };
  const Case cases[] = {
      {"'01234567890'", "01234567890", "C1"},
      {"'IT 0123.4567-890'", "01234567890", "C1"},
      {"'01234567890'", "IT 0123.4567-890", "C1"},
      {"'it01234567890'", "It-01234567890", "C1"},
      {"' 0123 4567 890 '", "01234567890", "C1"},
      {"'IT01234567890' || ASCII_CHAR(9)", "01234567890", "C1"},
      {"'01234567890'", "012345678901", "none"},
      {"'012345678901'", "01234567890", "none"},
      {"'IT01234567890'", "ITIT01234567890", "none"},
      {"'itIT01234567890'", "ITIT01234567890", "C1"},  // one prefix comes off each side
      {"'0123456 IT0123456'", "0123456", "none"},
      {"'FR01234567890'", "01234567890", "none"},
      {"'X01234567890'", "01234567890", "none"},
      {"'DE123456789'", "DE123456789", "C1"},  // what remains is compared as it is
      {"'DE123456789'", "de123456789", "none"},
      // empty stored values never match, however the number is written
      {"''", "IT", "none"},
      {"'IT'", "IT", "none"},
      {"' .-'", "-", "none"},
      {"NULL", "01234567890", "none"},
  };
  for (const Case& c : cases) {
    testing::RunIsql(archive_, "DELETE FROM CLIENTI;\n" + Subject("CLIENTI", "C1", c.stored));
    EXPECT_EQ(Find("CLIENTI", c.piva), c.found) << c.stored << " / " << c.piva;
  }
}

TEST_F(ExistingSubjectTest, TheFirstHolderInCodeOrderOfItsOwnTable) {
  testing::RunIsql(archive_,
                   Subject("CLIENTI", "B7", "'01234567890'") + Subject("CLIENTI", "0123", "''") +
                       Subject("CLIENTI", "A9", "'IT01234567890'") + Subject("CLIENTI", "C1", "'01234567890'") +
                       Subject("FORNITO", "000001", "'01234567890'") + Subject("FORNITO", "000002", "'09876543210'"));
  EXPECT_EQ(Find("CLIENTI", "01234567890"), "A9");
  EXPECT_EQ(Find("FORNITO", "IT01234567890"), "000001");
  EXPECT_EQ(Find("CLIENTI", "09876543210"), "none");
  EXPECT_EQ(Find("FORNITO", "09876543210"), "000002");
}

// The look before the registry call tries the write's lock: held elsewhere, the run stops with
// nothing paid; had, it is released before the call.
TEST_F(ExistingSubjectTest, TheLookBeforeTheCallTriesTheLockAndLetsItGo) {
  testing::RunIsql(archive_, Subject("CLIENTI", "A9", "'01234567890'") +
                                 "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);\n");
  TIBDatabase archive;
  OpenIBDatabaseFile(archive, archive_);
  EXPECT_EQ(LookForSubjectUnderLock(archive, "PartitaIvaPresenteClienti", "CLIENTI", "IT01234567890", 1s), "A9");
  EXPECT_EQ(LookForSubjectUnderLock(archive, "PartitaIvaPresenteClienti", "CLIENTI", "09876543210", 1s), std::nullopt);
  // Released: another transaction takes it at once.
  config::WriteLock writer(archive, "PartitaIvaPresenteClienti", 1s);
  EXPECT_EQ(LockAndFindSubject(archive, writer, "CLIENTI", "09876543210"), std::nullopt);
  // Held by that write: the look waits for it as the write would, then gives up.
  TIBDatabase other;
  OpenIBDatabaseFile(other, archive_);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(testing::ErrorOf([&] { LookForSubjectUnderLock(other, "PartitaIvaPresenteClienti", "CLIENTI", "1", 2s); }),
            config::kArchiveBusyMessage);
  // The engine counts its lock timeout in whole seconds from its own clock ticks: 1 to 2 s.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 950ms);
  // Another setting's rows are not that lock.
  EXPECT_EQ(LookForSubjectUnderLock(other, "PartitaIvaPresenteFornitori", "FORNITO", "1", 1s), std::nullopt);
  writer.Release();
}

// The machine's turn for one number in one table of one archive.
TEST(TakeVatNumberTurn, TheSecondRunForANumberWaitsAndABusyTurnStopsIt) {
  testing::TempDir dir;
  const std::string folder = dir.File("turns");
  const auto held = TakeVatNumberTurn("server:/srv/archivio.fdb", "CLIENTI", "IT 0123.4567-890", 1s, folder);
  ASSERT_NE(held, nullptr);
  // Other numbers, tables and archives have turns of their own; the same number in another
  // writing is the same turn. Asked from another process, as another run asks.
  const pid_t child = ::fork();
  if (child == 0) {
    const auto other = [&](const char* archive, const char* table, const char* piva) {
      return testing::ErrorOf([&] { TakeVatNumberTurn(archive, table, piva, 100ms, folder); });
    };
    const bool ok = other("server:/srv/archivio.fdb", "CLIENTI", "09876543210").empty() &&
                    other("server:/srv/archivio.fdb", "FORNITO", "01234567890").empty() &&
                    other("server:/srv/altro.fdb", "CLIENTI", "01234567890").empty() &&
                    other("server:/srv/archivio.fdb", "CLIENTI", "01234567890") == config::kArchiveBusyMessage;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // No turns where the folder cannot hold them: the run goes on without.
  EXPECT_EQ(TakeVatNumberTurn("a", "CLIENTI", "1", 0ms, dir.File("missing/turns")), nullptr);
}

}  // namespace
}  // namespace korvane
