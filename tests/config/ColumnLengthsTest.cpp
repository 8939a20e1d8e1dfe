#include "config/ColumnLengths.h"

#include <gtest/gtest.h>

#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::ErrorOf;
using Lengths = std::map<std::string, std::int32_t>;

class ColumnLengthsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateDatabase(path_, testing::FixtureScript("archive.sql"));
    testing::RunIsql(path_, "CREATE TABLE MISTA (C CHAR(5), U VARCHAR(10) CHARACTER SET UTF8, N INTEGER);");
    OpenIBDatabaseFile(database_, path_);
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("archivio.fdb");
  TIBDatabase database_;
};

TEST_F(ColumnLengthsTest, ReadsTheDeclaredLengthsOfTextColumns) {
  EXPECT_EQ(config::TextColumnLengths(database_, "CLIENTI", {"CODICE", "PI", "RAGSOC", "DATACREAZIONE", "MANCA"}),
            (Lengths{{"CODICE", 20}, {"PI", 20}, {"RAGSOC", 64}}));
  // Characters, not bytes, whatever the character set; a number column has no text length.
  EXPECT_EQ(config::TextColumnLengths(database_, "MISTA", {"C", "U", "N"}), (Lengths{{"C", 5}, {"U", 10}}));
  EXPECT_EQ(config::TextColumnLengths(database_, "MANCA", {"CODICE"}), Lengths{});
  EXPECT_EQ(config::TextColumnLengths(database_, "CLIENTI' OR 'A'='A", {"CODICE"}), Lengths{});
}

// The check gives, byte for byte, the error that setting the insert's parameter gives.
TEST_F(ColumnLengthsTest, FailsAsSettingTheParameterWould) {
  TIBSQL sql(&database_);
  TIBTransaction& transaction = sql.OwnTransaction(std::make_unique<TIBTransaction>(&database_));
  sql.AddLine("INSERT INTO CLIENTI (CODICE, PI) VALUES (:CODICE, :PI)");
  transaction.StartTransaction();
  for (const std::string& value : {std::string(21, '7'), std::string(20, 'x') + "\u00e8", std::string(300, 'y')}) {
    const std::string layer = ErrorOf([&] { sql.ParamByName("CODICE").SetAsString(value); });
    ASSERT_FALSE(layer.empty());
    EXPECT_EQ(ErrorOf([&] { config::CheckTextLength(value, 20); }), layer);
    EXPECT_THROW(config::CheckTextLength(value, 20), EIBClientError);
  }
  EXPECT_EQ(ErrorOf([&] { config::CheckTextLength(std::string(19, 'x') + "\u00e8", 20); }), "");
  EXPECT_EQ(ErrorOf([&] { config::CheckTextLength(std::string(99, 'x'), std::nullopt); }), "");
  EXPECT_EQ(ErrorOf([&] { config::CheckLength(2147483647, 20); }),
            "Trying to store a string of length 2147483647 into a field that can only contain 20");
}

}  // namespace
}  // namespace korvane
