#include "config/TabX.h"

#include <gtest/gtest.h>

#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

TEST(GetTabXValue, ReadsTheNamedSetting) {
  testing::TempDir dir;
  const std::string path = dir.File("archivio.fdb");
  testing::CreateDatabase(path, testing::FixtureScript("archive.sql"));
  testing::RunIsql(path,
                   "INSERT INTO TABX VALUES ('Larghezza', '6', '17');\n"
                   "INSERT INTO TABX VALUES ('Larghezza', '8', '0');\n"
                   "INSERT INTO TABX VALUES ('Nullo', NULL, NULL);\n"
                   "INSERT INTO TABX VALUES ('', 'senza nome', NULL);\n"
                   "INSERT INTO TABX VALUES ('L''apostrofo', 'giusto', NULL);\n"
                   "INSERT INTO TABX VALUES ('Due punti', ':x', NULL);\n");
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  struct Case {
    std::string nome;
    std::int32_t filtro;
    std::string expected;
  };
  const Case cases[] = {
      {"Larghezza", -1, "6"},                                // the first row delivered, whichever user
      {"Larghezza", 17, "6"},        {"Larghezza", 0, "8"},  // 0 is a user filter too
      {"Larghezza", 5, ""},          {"Manca", -1, ""},       {"Nullo", -1, ""},          {"", -1, "senza nome"},
      {"L'apostrofo", -1, "giusto"}, {"Due punti", -1, ":x"}, {"x') OR ('1'='1", -1, ""},  // cannot widen the filter
  };
  for (const auto& c : cases) EXPECT_EQ(GetTabXValue(database, c.nome, c.filtro), c.expected) << c.nome;
}

TEST(GetTabXValue, AMissingTableRaises) {
  testing::TempDir dir;
  const std::string path = dir.File("user.fdb");
  testing::CreateDatabase(path, testing::FixtureScript("users.sql"));
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  EXPECT_THROW(GetTabXValue(database, "CaratteriRiempimentoClienti", -1), Exception);
}

TEST(TabXSQL, TheStatementLines) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(config::TabXSQL("CaratteriRiempimentoClienti", -1),
            (Lines{"SELECT TESTO FROM TABX", "WHERE (NOME='CaratteriRiempimentoClienti')"}));
  EXPECT_EQ(config::TabXSQL("X", 17), (Lines{"SELECT TESTO FROM TABX", "WHERE (NOME='X')", "AND(UTENTE='17')"}));
  EXPECT_EQ(config::TabXSQL("", 0), (Lines{"SELECT TESTO FROM TABX", "WHERE (NOME='')", "AND(UTENTE='0')"}));
  EXPECT_EQ(config::TabXSQL("L'a", -7)[1], "WHERE (NOME='L''a')");
}

}  // namespace
}  // namespace korvane
