#include "config/QelUser.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/IBDatabase.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::CreateDatabase;
using testing::FixtureScript;
using testing::RunIsql;

using testing::ErrorOf;

// A users database with one user (17) whose own company column says 02, parameters for the
// companies 01, 02 and one with an apostrophe in its code.
class QelUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDatabase(path_, FixtureScript("users.sql"));
    RunIsql(path_,
            "INSERT INTO UTENTI VALUES (17, 'Mario', '02', 'Segreta');\n"
            "INSERT INTO UTENTI VALUES (20, NULL, NULL, NULL);\n"
            "INSERT INTO TABSOFTDES VALUES (17, '01', 'Archivio', '/dati/01/archivio.fdb');\n"
            "INSERT INTO TABSOFTDES VALUES (17, '02', 'Archivio', '/dati/02/archivio.fdb');\n"
            "INSERT INTO TABSOFTDES VALUES (18, '01', 'Archivio', '/dati/altro.fdb');\n"
            "INSERT INTO TABSOFTDES VALUES (17, 'D''Amico', 'Archivio', '/dati/damico.fdb');\n"
            "INSERT INTO TABSOFTDES VALUES (17, '01', 'Vuoto', NULL);\n"
            "INSERT INTO TABSOFTDES VALUES (17, '01', 'Doppio', 'primo');\n"
            "INSERT INTO TABSOFTDES VALUES (17, '01', 'Doppio', 'secondo');\n");
  }

  void Connect() { user_.ConnettiDB(path_); }

  testing::TempDir dir_;
  std::string path_ = dir_.File("user.fdb");
  TQelUser user_;
};

TEST_F(QelUserTest, LoadsTheUserRow) {
  Connect();
  user_.SetCodiceUtente(17);
  EXPECT_EQ(user_.CodiceUtente(), 17);
  EXPECT_EQ(user_.NomeUtente(), "Mario");
  EXPECT_EQ(user_.DittaUtente(), "02");
  EXPECT_NO_THROW(user_.CheckPassword("Segreta"));
  EXPECT_EQ(ErrorOf([&] { user_.CheckPassword("segreta"); }), "Password errata");
  EXPECT_EQ(ErrorOf([&] { user_.CheckPassword(""); }), "Password errata");
}

TEST_F(QelUserTest, NullColumnsLoadAsEmptyText) {
  Connect();
  user_.SetCodiceUtente(17);
  user_.SetCodiceUtente(20);
  EXPECT_EQ(user_.CodiceUtente(), 20);
  EXPECT_EQ(user_.NomeUtente(), "");
  EXPECT_EQ(user_.DittaUtente(), "");
  EXPECT_NO_THROW(user_.CheckPassword(""));
}

TEST_F(QelUserTest, MissingUserKeepsThePreviousValues) {
  Connect();
  user_.SetCodiceUtente(17);
  EXPECT_EQ(ErrorOf([&] { user_.SetCodiceUtente(18); }), "Utente 18 non trovato");
  EXPECT_EQ(ErrorOf([&] { user_.SetCodiceUtente(-5); }), "Utente -5 non trovato");
  EXPECT_EQ(user_.CodiceUtente(), 17);
  EXPECT_EQ(user_.NomeUtente(), "Mario");
  // Each read ended its transaction: the connection still works.
  user_.SetDittaUtente("01");
  EXPECT_EQ(user_.GetParamSoftDes("Archivio"), "/dati/01/archivio.fdb");
}

TEST_F(QelUserTest, DuplicateCodesLoadTheFirstRow) {
  RunIsql(path_,
          "DROP TABLE UTENTI;\n"
          "CREATE TABLE UTENTI (CODICE INTEGER, NOMEUTENTE VARCHAR(64), DITTA VARCHAR(20),"
          " PWDUTENTE VARCHAR(64));\n"
          "COMMIT;\n"
          "INSERT INTO UTENTI VALUES (5, 'Primo', '01', 'a');\n"
          "INSERT INTO UTENTI VALUES (5, 'Secondo', '02', 'b');\n");
  Connect();
  user_.SetCodiceUtente(5);
  EXPECT_EQ(user_.NomeUtente(), "Primo");
}

TEST_F(QelUserTest, ParametersFollowTheCompanyOfTheRun) {
  Connect();
  user_.SetCodiceUtente(17);  // the row says 02
  user_.SetDittaUtente("01");
  struct Case {
    std::string ditta, nome, expected;
  };
  const Case cases[] = {
      {"01", "Archivio", "/dati/01/archivio.fdb"},
      {"02", "Archivio", "/dati/02/archivio.fdb"},
      {"03", "Archivio", ""},
      {"01", "Manca", ""},
      {"01", "Vuoto", ""},
      {"01", "Doppio", "primo"},
      {"D'Amico", "Archivio", "/dati/damico.fdb"},
      // An apostrophe cannot widen the filter to every row.
      {"01", "x' OR PARAMETRO<>'", ""},
      {"x' OR 1=1 OR '", "Archivio", ""},
  };
  for (const auto& c : cases) {
    user_.SetDittaUtente(c.ditta);
    EXPECT_EQ(user_.GetParamSoftDes(c.nome), c.expected) << c.ditta << " " << c.nome;
  }
}

TEST(ParamSoftDesSQL, TheStatementLines) {
  EXPECT_EQ(config::ParamSoftDesSQL(17, "01", "Archivio"),
            (std::vector<std::string>{"SELECT", "  VALORE", "FROM", "  TABSOFTDES", "WHERE", "  UTENTE=17", "  AND",
                                      "  INTESTAZIONE='01'", "  AND", "  PARAMETRO='Archivio'"}));
  const auto quoted = config::ParamSoftDesSQL(-3, "D'Amico", "a''b");
  EXPECT_EQ(quoted[5], "  UTENTE=-3");
  EXPECT_EQ(quoted[7], "  INTESTAZIONE='D''Amico'");
  EXPECT_EQ(quoted[9], "  PARAMETRO='a''''b'");
}

TEST(QelUser, ConnectingToAMissingDatabaseFails) {
  testing::TempDir dir;
  TQelUser user;
  EXPECT_THROW(user.ConnettiDB(dir.File("user/user.fdb")), Exception);
  EXPECT_FALSE(user.DBUser().Connected());
}

TEST(GetUserDatabasePath, ChoosesAnExistingUserFolder) {
  testing::TempDir dir;
  const std::string bin = dir.File("Gestionale/Bin");
  std::filesystem::create_directories(bin);
  const std::string program = bin + "/korvane";
  const std::string first = bin + "/user/user.fdb";
  const std::string second = dir.File("Gestionale/user/user.fdb");

  EXPECT_EQ(GetUserDatabasePath(program), first);  // neither folder: the first
  std::filesystem::create_directory(dir.File("Gestionale/user"));
  EXPECT_EQ(GetUserDatabasePath(program), second);
  std::filesystem::create_directory(bin + "/user");
  EXPECT_EQ(GetUserDatabasePath(program), first);
  EXPECT_EQ(GetUserDatabasePath("/korvane"), "/user/user.fdb");
}

}  // namespace
}  // namespace korvane
