// Runs the built program from a program folder with its users database beside it, against a
// real archive database, up to the step that asks the registry.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/FirebirdFixture.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::CreateDatabase;
using testing::FixtureScript;
using testing::QueryColumn;
using testing::RunIsql;
using testing::RunProgram;

// A program folder <root>/bin holding a copy of the program, a users database in `userFolder`
// (relative to the root) and an archive for the company 01 of user 5, whose own row says 02.
class RunDatabaseTest : public ::testing::Test {
 protected:
  void Install(const std::string& userFolder) {
    std::filesystem::create_directories(root_.File("bin"));
    std::filesystem::copy_file(KORVANE_BINARY, program_);
    std::filesystem::create_directories(root_.File(userFolder));
    users_ = root_.File(userFolder + "/user.fdb");
    CreateDatabase(users_, FixtureScript("users.sql"));
    CreateDatabase(archive_, FixtureScript("archive.sql"));
    RunIsql(users_,
            "INSERT INTO UTENTI VALUES (5, 'Anna', '02', 'x');\n"
            "INSERT INTO TABSOFTDES VALUES (5, '01', 'Archivio', '" + archive_ + "');\n"
            "INSERT INTO TABSOFTDES VALUES (5, '02', 'Archivio', '" + root_.File("none.fdb") + "');\n");
    RunIsql(archive_, "INSERT INTO CLIENTI (CODICE) VALUES ('0123');");
  }

  testing::ProgramResult Run(const std::string& utente, const std::string& ditta) {
    return RunProgram(program_, {"-UTENTE", utente, "-DITTA", ditta, "-PIVA", "01234567890",
                                 "-APITOKEN", "segreto"});
  }

  testing::TempDir root_, data_;
  std::string program_ = root_.File("bin/korvane");
  std::string users_;
  std::string archive_ = data_.File("archivio.fdb");
};

TEST_F(RunDatabaseTest, ReachesTheRegistryStep) {
  Install("bin/user");
  const auto result = Run("5", "01");
  EXPECT_EQ(result.out, "The registry request is not built yet\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitCode, 1);
  // Nothing was written, and both connections were closed (isql can open them again).
  EXPECT_EQ(QueryColumn(archive_, "SELECT CODICE FROM CLIENTI"), std::vector<std::string>{"0123"});
  EXPECT_EQ(QueryColumn(users_, "SELECT COUNT(*) FROM UTENTI"), std::vector<std::string>{"1"});
}

TEST_F(RunDatabaseTest, FindsTheUsersDatabaseBesideTheProgramFolder) {
  Install("user");
  EXPECT_EQ(Run("5", "01").out, "The registry request is not built yet\r\n");
}

TEST_F(RunDatabaseTest, StopsWithTheStepsMessages) {
  Install("bin/user");
  struct Case {
    std::string utente, ditta, out;
  };
  const Case cases[] = {
      {"17", "01", "Utente 17 non trovato\r\n"},
      {"5", "03", "Database name is missing\r\n"},  // no archive for that company
  };
  for (const auto& c : cases) {
    const auto result = Run(c.utente, c.ditta);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
  }
  // The company of the run, not the user's own (02, whose archive does not exist), is used.
  EXPECT_EQ(Run("5", "01").out, "The registry request is not built yet\r\n");
}

TEST_F(RunDatabaseTest, AMissingUsersDatabaseIsReported) {
  Install("elsewhere/user");
  const auto result = Run("5", "01");
  EXPECT_NE(result.out.find("user.fdb"), std::string::npos) << result.out;
  EXPECT_EQ(result.exitCode, 1);
}

}  // namespace
}  // namespace korvane
