#include "config/QelDBUtility.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/PathTerms.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

const std::string kIncomplete =
    "Riferimenti file .ini incompleti (specificare \"Lettera Disco Server\" o \"PercorsoDatabase\")";

struct ConnectionCase {
  std::string fileName, nomeServer, lettera, percorso, alias, expected;
};

TDBConnectionInfo Info(const ConnectionCase& c) {
  TDBConnectionInfo info;
  info.FileName = c.fileName;
  info.NomeServer = c.nomeServer;
  info.LetteraDiscoServer = c.lettera;
  info.PercorsoDatabase = c.percorso;
  info.Alias = c.alias;
  return info;
}

std::string ConnectionString(const ConnectionCase& c) {
  return testing::OutcomeOf([&] { return Info(c).GetIBFileName(); });
}

TEST(GetIBFileName, WorkedExamples) {
  const ConnectionCase cases[] = {
      {R"(D:\Dati\archivio.fdb)", "SRV01", "", "", "ditta1", "SRV01:ditta1"},
      {R"(D:\Dati\archivio.fdb)", "SRV01", "D", "", "", R"(\\SRV01\D:\Dati\archivio.fdb)"},
      {R"(d:\dati\archivio.fdb)", "SRV01", "D", "", "", R"(\\SRV01\D:\dati\archivio.fdb)"},
      {R"(Z:\Dati\archivio.fdb)", "SRV01", "D", R"(D:\Gestionale\Dati)", "",
       R"(\\SRV01\D:\Gestionale\Dati\archivio.fdb)"},
      {R"(Z:\Dati\archivio.fdb)", "SRV01", "", R"(E:\Archivi\Ditta1\)", "",
       R"(\\SRV01\E:\Archivi\Ditta1\archivio.fdb)"},
      {R"(\\nas\dati\Ditte\Ditta1\archivio.fdb)", "SRV01", "E", "", "", R"(\\SRV01\E:\Ditte\Ditta1\archivio.fdb)"},
      {R"(D:\archivio.fdb)", "SRV01", "D", "", "", R"(\\SRV01\D:\\archivio.fdb)"},
      {R"(D:\Dati\archivio.fdb)", "SRV01", "", "", "", "error: " + kIncomplete},
      {R"(C:\Programmi\Dati\archivio.fdb)", "", "", "", "", R"(C:\Programmi\Dati\archivio.fdb)"},
      {R"(C:\Programmi\Dati\archivio.fdb)", "", "", R"(E:\Altro\ditta.fdb)", "ditta1", R"(E:\Altro\ditta.fdb)"},
      {R"(\\srv01\d\Dati\Ditta1\archivio.fdb)", "", "", "", "", R"(\\srv01\d:\Dati\Ditta1\archivio.fdb)"},
      {R"(\\srv01\d\archivio.fdb)", "", "", "", "", R"(\\srv01\d:\\archivio.fdb)"},
      {R"(C:\Lavoro\archivio.fdb)", "", "", R"(\\srv01\e\Dati\ditta.fdb)", "", R"(\\srv01\e:\Dati\ditta.fdb)"},
      {R"(srv01:D:\Dati\archivio.fdb)", "", "", "", "", R"(srv01:D:\Dati\archivio.fdb)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConnectionString(c), c.expected) << c.fileName;
}

TEST(GetIBFileName, OtherCombinations) {
  const ConnectionCase cases[] = {
      // A server with alias ignores drive and path; an alias without a server is ignored.
      {R"(D:\a.fdb)", "SRV01", "D", R"(E:\x\)", "ditta1", "SRV01:ditta1"},
      {R"(D:\Dati\a.fdb)", "", "D", "", "ditta1", R"(D:\Dati\a.fdb)"},
      // Without a server the path replaces the whole file name, a trailing backslash included.
      {R"(D:\Dati\a.fdb)", "", "", R"(E:\Altro\)", "", R"(E:\Altro\)"},
      // Paths of this machine and an empty path pass through.
      {"/srv/dati/archivio.fdb", "", "", "", "", "/srv/dati/archivio.fdb"},
      {"", "", "", "", "", ""},
      {"", "SRV01", "", "", "", "error: " + kIncomplete},
      // A share that already holds a colon keeps it; a network path to a share root.
      {R"(\\srv01\d:\Dati\a.fdb)", "", "", "", "", R"(\\srv01\d:\Dati\a.fdb)"},
      // "\\?\" prefixes other than "\\?\UNC\" and invalid host characters are not network paths.
      {R"(\\?\D:\Dati\a.fdb)", "", "", "", "", R"(\\?\D:\Dati\a.fdb)"},
      {R"(\\|x\d\a.fdb)", "", "", "", "", R"(\\|x\d\a.fdb)"},
      // The path's drive letter compares without case against the server drive.
      {R"(d:\Dati\a.fdb)", "SRV01", "", R"(d:\Gestionale\)", "", R"(\\SRV01\d:\Gestionale\a.fdb)"},
      // A folder that is not on the server drive: its own drive or share is dropped, as a
      // mapped drive or share stands for the server drive.
      {R"(Z:\Dati\archivio.fdb)", "SRV01", "D", "", "", R"(\\SRV01\D:\Dati\archivio.fdb)"},
      {R"(Z:\Dati\archivio.fdb)", "SRV01", "D", R"(E:\Archivi\)", "", R"(\\SRV01\D:\Archivi\archivio.fdb)"},
      // A drive letter written with its colon is not given a second one.
      {R"(D:\Dati\a.fdb)", "SRV01", "D:", "", "", R"(\\SRV01\D:\Dati\a.fdb)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConnectionString(c), c.expected) << c.fileName << " " << c.percorso;
}

TEST(PathTerms, DriveFolderNameAndNetwork) {
  using namespace config;
  struct Case {
    std::string path, drive, folder, name;
    bool network;
  };
  const Case cases[] = {
      {R"(\\nas\dati\Ditte\a.fdb)", R"(\\nas\dati)", R"(\\nas\dati\Ditte\)", "a.fdb", true},
      {R"(\\nas\dati\)", R"(\\nas\dati)", R"(\\nas\dati\)", "", true},
      {R"(\\nas\dati)", R"(\\nas\dati)", R"(\\nas\)", "dati", true},
      {R"(\\nas)", R"(\\nas)", R"(\\)", "nas", true},
      {R"(\\)", R"(\)", R"(\\)", "", false},  // less one final backslash
      {R"(\\?\UNC\nas\d\a)", R"(\\?\UNC)", R"(\\?\UNC\nas\d\)", "a", true},
      {"D:\\Dati\\a.fdb", "D:", "D:\\Dati\\", "a.fdb", false},
      {"D:a.fdb", "D:", "D:", "a.fdb", false},
      {"Dati\\a.fdb", "", "Dati\\", "a.fdb", false},
      {"/tmp/x/a.fdb", "", "/tmp/x/", "a.fdb", false},
      {"a.fdb", "", "", "a.fdb", false},
      {"\xC3\xA0:\\a", "\xC3\xA0:", "\xC3\xA0:\\", "a", false},
      // A first character outside the basic plane is two units: the colon is the third.
      {"\xF0\x9F\x98\x80:\\a", "", "\xF0\x9F\x98\x80:\\", "a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DrivePart(c.path), c.drive) << c.path;
    EXPECT_EQ(FolderPart(c.path), c.folder) << c.path;
    EXPECT_EQ(NamePart(c.path), c.name) << c.path;
    EXPECT_EQ(IsNetworkPath(c.path), c.network) << c.path;
  }
  EXPECT_EQ(RelativeFolder(R"(D:\Gestionale\Dati)"), R"(Gestionale\Dati)");
  EXPECT_EQ(RelativeFolder(R"(d:\dati\)"), R"(dati\)");
  EXPECT_EQ(RelativeFolder(R"(\\nas\dati\Ditte\)"), R"(Ditte\)");
  EXPECT_EQ(RelativeFolder(R"(D:\)"), "");
  EXPECT_EQ(WithTrailingSeparator(""), "\\");
  EXPECT_EQ(WithTrailingSeparator("a\\"), "a\\");
}

TEST(SettingsFileName, SitsBesideTheDatabase) {
  EXPECT_EQ(config::SettingsFileName("/srv/dati/archivio.fdb"), "/srv/dati/dati.ini");
  EXPECT_EQ(config::SettingsFileName(R"(D:\Dati\archivio.fdb)"), R"(D:\Dati\dati.ini)");
  EXPECT_EQ(config::SettingsFileName(R"(srv01:D:\Dati\archivio.fdb)"), R"(srv01:D:\Dati\dati.ini)");
  EXPECT_EQ(config::SettingsFileName("archivio.fdb"), "dati.ini");
  EXPECT_EQ(config::SettingsFileName(""), "dati.ini");
}

TEST(LoadFromIniFile, OverwritesTheFourServerFields) {
  testing::TempDir dir;
  const std::string ini = dir.File("dati.ini");
  std::ofstream(ini) << "[config]\nNOME SERVER = SRV01 \nalias=\"ditta1\"\n[Other]\nPercorsoDatabase=x\n";
  TDBConnectionInfo info;
  info.FileName = "D:\\a.fdb";
  info.PercorsoDatabase = "old";
  info.LetteraDiscoServer = "old";
  info.LoadFromIniFile(ini, "CONFIG");
  EXPECT_EQ(info.FileName, "D:\\a.fdb");
  EXPECT_EQ(info.NomeServer, "SRV01");
  EXPECT_EQ(info.Alias, "ditta1");
  EXPECT_EQ(info.PercorsoDatabase, "");
  EXPECT_EQ(info.LetteraDiscoServer, "");
}

}  // namespace
}  // namespace korvane
