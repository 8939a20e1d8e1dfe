#include "app/ExistingSubject.h"

#include <gtest/gtest.h>

#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

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

}  // namespace
}  // namespace korvane
