// Opening real databases through the connection descriptor: dati.ini beside the file
// redirects the open; without it the path is used as it is.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "config/QelDBUtility.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "platform/CodePages.h"
#include "platform/Process.h"
#include "serverlogin/ServerLogin.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::CreateDatabase;
using testing::FixtureScript;
using testing::RunIsql;

// The login parameters of every database the tool opens.
std::vector<std::string> LoginParams() {
  return {std::string("user_name=") + testing::kUserName, std::string("password=") + testing::kBuiltInPassword};
}

// An archive database whose TABX holds one row telling which file it is.
std::string MarkedArchive(const testing::TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  CreateDatabase(path, FixtureScript("archive.sql"));
  RunIsql(path, "INSERT INTO TABX (NOME, TESTO) VALUES ('Marker', '" + name + "');");
  return path;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

using testing::ErrorOf;

TEST(OpenIBDatabaseFile, WithoutSettingsUsesThePathAsItIs) {
  testing::TempDir dir;
  const std::string path = MarkedArchive(dir, "archivio.fdb");
  std::filesystem::create_directory(dir.File("dati.ini"));  // a folder of that name does not count
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(database.DatabaseName(), path);
  EXPECT_FALSE(database.LoginPrompt());
  EXPECT_EQ(database.Params(), LoginParams());
  EXPECT_EQ(GetTabXValue(database, "Marker", -1), "archivio.fdb");
}

TEST(OpenIBDatabaseFile, PercorsoDatabaseNamesAnotherFile) {
  testing::TempDir here, there;
  MarkedArchive(here, "archivio.fdb");
  const std::string real = MarkedArchive(there, "reale.fdb");
  WriteFile(here.File("dati.ini"), "[Config]\r\n  percorsodatabase = \"" + real + "\"\r\n");
  TIBDatabase database;
  OpenIBDatabaseFile(database, here.File("archivio.fdb"));
  EXPECT_EQ(database.DatabaseName(), real);
  EXPECT_EQ(GetTabXValue(database, "Marker", -1), "reale.fdb");
}

// A dati.ini in Windows-1252 or UTF-8 naming a folder with accents, beside a file in another.
TEST(OpenIBDatabaseFile, FoldersWithAccentsInThePathAndInTheSettings) {
  platform::UseUtf8CharacterType();  // as the program does first
  testing::TempDir dir;
  for (const char* folder : {"Contabilità", "Società Bianchi & C."})
    std::filesystem::create_directory(dir.Path() / folder);
  const std::string here = (dir.Path() / "Contabilità").string();
  const std::string there = (dir.Path() / "Società Bianchi & C.").string();
  std::filesystem::rename(MarkedArchive(dir, "archivio.fdb"), here + "/archivio.fdb");
  std::filesystem::rename(MarkedArchive(dir, "reale.fdb"), there + "/reale.fdb");
  TIBDatabase database;
  OpenIBDatabaseFile(database, here + "/archivio.fdb");
  EXPECT_EQ(GetTabXValue(database, "Marker", -1), "archivio.fdb");
  for (const std::string& settings : {"PercorsoDatabase=" + there + "/reale.fdb",
                                      platform::Utf8ToCp1252("PercorsoDatabase=" + there + "/reale.fdb")}) {
    WriteFile(here + "/dati.ini", "[CONFIG]\r\n" + settings + "\r\n");
    OpenIBDatabaseFile(database, here + "/archivio.fdb");
    EXPECT_EQ(database.DatabaseName(), there + "/reale.fdb");
    EXPECT_EQ(GetTabXValue(database, "Marker", -1), "reale.fdb");
  }
}

// A login given for the run replaces the built-in one.
TEST(OpenIBDatabaseFile, TheLoginGivenReplacesTheBuiltInOne) {
  testing::TempDir dir;
  const std::string path = MarkedArchive(dir, "archivio.fdb");
  TIBDatabase database;
  OpenIBDatabaseFile(database, path, config::DatabaseLogin{.user = "MARIO", .password = "s3greta"});
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(database.Params(), (std::vector<std::string>{"user_name=MARIO", "password=s3greta"}));
}

TEST(OpenIBDatabaseFile, ServerAndAliasGoThroughTheLocalServer) {
  testing::TempDir dir;
  const std::string path = MarkedArchive(dir, "alias.fdb");
  testing::GrantServerAccess(path);
  const std::string alias = "korvane_config_" + std::to_string(::getpid());
  const testing::ServerAlias configured(alias, path);
  WriteFile(dir.File("dati.ini"), "[CONFIG]\nNome Server=localhost\nAlias=" + alias +
                                      "\nLettera Disco Server=Q\nPercorsoDatabase=/nowhere/x.fdb\n");
  TIBDatabase database;
  OpenIBDatabaseFile(database, dir.File("alias.fdb"),
                     config::DatabaseLogin{.user = serverlogin::kUser, .password = serverlogin::Password()});
  EXPECT_EQ(database.DatabaseName(), "localhost:" + alias);
  EXPECT_EQ(GetTabXValue(database, "Marker", -1), "alias.fdb");
}

TEST(OpenIBDatabase, ClosesTheOpenConnectionFirst) {
  testing::TempDir dir;
  const std::string first = MarkedArchive(dir, "primo.fdb");
  const std::string second = MarkedArchive(dir, "secondo.fdb");
  TIBDatabase database;
  OpenIBDatabaseFile(database, first);
  OpenIBDatabaseFile(database, second);
  EXPECT_EQ(GetTabXValue(database, "Marker", -1), "secondo.fdb");
}

TEST(OpenIBDatabase, IncompleteSettingsLeaveTheComponentClosed) {
  testing::TempDir dir, other;
  const std::string first = MarkedArchive(dir, "primo.fdb");
  WriteFile(other.File("dati.ini"), "[CONFIG]\nNome Server=SRV01\n");
  TIBDatabase database;
  OpenIBDatabaseFile(database, first);
  EXPECT_EQ(ErrorOf([&] { OpenIBDatabaseFile(database, other.File("archivio.fdb")); }),
            "Riferimenti file .ini incompleti (specificare \"Lettera Disco Server\" o \"PercorsoDatabase\")");
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(database.DatabaseName(), first);
  EXPECT_EQ(database.Params(), LoginParams());
}

// A dati.ini over 1 MiB is no settings file anyone wrote: refused, naming it, and nothing opened.
TEST(OpenIBDatabaseFile, AnOversizedSettingsFileIsRefused) {
  testing::TempDir dir;
  const std::string path = MarkedArchive(dir, "archivio.fdb");
  WriteFile(dir.File("dati.ini"), "[CONFIG]\n" + std::string(2 * 1024 * 1024, ';') + "\n");
  TIBDatabase database;
  EXPECT_EQ(ErrorOf([&] { OpenIBDatabaseFile(database, path); }),
            "File " + dir.File("dati.ini") + " troppo grande (oltre 1 MiB)");
  EXPECT_FALSE(database.Connected());
}

TEST(OpenIBDatabaseFile, EmptyPathIsRejectedByTheDatabaseLayer) {
  TIBDatabase database;
  EXPECT_EQ(ErrorOf([&] { OpenIBDatabaseFile(database, ""); }), "Database name is missing");
  EXPECT_FALSE(database.Connected());
}

}  // namespace
}  // namespace korvane
