#include "config/PathMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Exception.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace korvane::config {
namespace {

using testing::ErrorOf;

constexpr const char* kSambaLayout =
    "# the shares of srv01\r\n"
    "G:\\Gestionale = /srv/gestionale\r\n"
    "\r\n"
    "\\\\srv01\\gestionale = /srv/gestionale/\r\n"
    "  ; a deeper folder elsewhere\r\n"
    "G:\\Gestionale\\Storico = \"/mnt/storico\"\r\n"
    "H: = /srv/home\n";

TEST(PathMap, TheLongestMatchingPrefixWins) {
  const PathMap map = PathMap::Parse(kSambaLayout, "mappa");
  struct Case {
    std::string desktop;
    std::string server;  // empty: no line maps it
    int line = 0;
  };
  const Case cases[] = {
      {R"(G:\Gestionale\Dati\ditta01.fdb)", "/srv/gestionale/Dati/ditta01.fdb", 2},
      {R"(g:/GESTIONALE/Dati\ditta01.fdb)", "/srv/gestionale/Dati/ditta01.fdb", 2},
      {R"(\\srv01\gestionale\Dati\ditta01.fdb)", "/srv/gestionale/Dati/ditta01.fdb", 4},
      {R"(\\SRV01/Gestionale\\Dati\\ditta01.fdb)", "/srv/gestionale/Dati/ditta01.fdb", 4},
      {R"(G:\Gestionale\Storico\2019\ditta01.fdb)", "/mnt/storico/2019/ditta01.fdb", 6},
      {R"(G:\Gestionale)", "/srv/gestionale", 2},
      {R"(H:\ditta.fdb)", "/srv/home/ditta.fdb", 7},
      // Letters outside ASCII are compared without regard to case too.
      {"G:\\Gestionale\\Contabilità\\a.fdb", "/srv/gestionale/Contabilità/a.fdb", 2},
      // A prefix matches whole folder names only.
      {R"(G:\GestionaleVecchio\a.fdb)", ""},
      {R"(G:\Altro\a.fdb)", ""},
      {R"(K:\Gestionale\a.fdb)", ""},
      {R"(\\srv02\gestionale\a.fdb)", ""},
      {R"(\\srv01\altro\a.fdb)", ""},
  };
  for (const auto& c : cases) {
    const auto mapped = map.Map(c.desktop);
    if (c.server.empty()) {
      EXPECT_FALSE(mapped) << c.desktop;
      continue;
    }
    ASSERT_TRUE(mapped) << c.desktop;
    EXPECT_EQ(mapped->path, c.server) << c.desktop;
    EXPECT_EQ(mapped->line->number, c.line) << c.desktop;
  }
}

TEST(PathMap, LinesThatAreNotAMapping) {
  const std::string cases[] = {
      "G:\\Gestionale\n",                     // no "="
      "G:\\Gestionale = srv/gestionale\n",    // not an absolute folder
      "G:\\Gestionale = \n",                  // no folder
      "/mnt/gestionale = /srv/gestionale\n",  // not a desktop prefix
      "Gestionale = /srv/gestionale\n",       //
      "\\\\ = /srv/gestionale\n",             // no host
      "srv01:D:\\Dati = /srv/gestionale\n",   // a connection string
  };
  for (const auto& text : cases) {
    EXPECT_EQ(ErrorOf([&] { PathMap::Parse("# comment\n" + text, "/opt/korvane/user/mappa-percorsi.txt"); }),
              "Riga 2 di /opt/korvane/user/mappa-percorsi.txt non valida: attesa \"prefisso del desktop = "
              "cartella del server\"")
        << text;
  }
}

TEST(PathMap, WhichValuesAreDesktopPaths) {
  EXPECT_TRUE(IsDriveLetterPath(R"(G:\Gestionale)"));
  EXPECT_TRUE(IsDriveLetterPath("g:/x"));
  EXPECT_TRUE(IsDriveLetterPath("G:"));
  EXPECT_FALSE(IsDriveLetterPath("G:x.fdb"));  // a host "G" and a path, as ever
  EXPECT_FALSE(IsDriveLetterPath(R"(srv01:D:\Dati\a.fdb)"));
  EXPECT_FALSE(IsDriveLetterPath("localhost:/srv/a.fdb"));
  EXPECT_FALSE(IsDriveLetterPath("/srv/a.fdb"));
  EXPECT_TRUE(IsNetworkPath(R"(\\srv01\gestionale\a.fdb)"));
  EXPECT_FALSE(IsNetworkPath("//srv01/gestionale/a.fdb"));  // a POSIX path
}

class ServerArchivePathTest : public ::testing::Test {
 protected:
  void WriteMap(const std::string& text) { std::ofstream(map_, std::ios::binary) << text; }

  testing::TempDir dir_;
  std::string map_ = PathMapFileName(dir_.File("user.fdb"));
};

TEST_F(ServerArchivePathTest, TheMapFileLiesBesideTheUsersDatabase) {
  EXPECT_EQ(map_, dir_.File("mappa-percorsi.txt"));
  EXPECT_EQ(PathMapFileName("/opt/korvane/user/user.fdb"), "/opt/korvane/user/mappa-percorsi.txt");
}

TEST_F(ServerArchivePathTest, DesktopPathsAreMapped) {
  WriteMap(kSambaLayout);
  EXPECT_EQ(ServerArchivePath(R"(G:\Gestionale\Dati\ditta01.fdb)", map_), "/srv/gestionale/Dati/ditta01.fdb");
  EXPECT_EQ(ServerArchivePath(R"(\\srv01\gestionale\Dati\ditta01.fdb)", map_), "/srv/gestionale/Dati/ditta01.fdb");
}

TEST_F(ServerArchivePathTest, AnUnmappedDesktopPathIsRefusedNamingTheValueAndTheMap) {
  const std::string refused = " non raggiungibile da questo server: manca il suo prefisso in " + map_;
  // Without a map file a drive letter is refused; a network path names a Windows server's share,
  // as before any map existed.
  EXPECT_EQ(ErrorOf([&] { ServerArchivePath(R"(G:\Gestionale\Dati\ditta01.fdb)", map_); }),
            "Archivio \"G:\\Gestionale\\Dati\\ditta01.fdb\"" + refused);
  EXPECT_EQ(ServerArchivePath(R"(\\winsrv\d\Dati\a.fdb)", map_), R"(\\winsrv\d\Dati\a.fdb)");

  WriteMap(kSambaLayout);
  EXPECT_EQ(ErrorOf([&] { ServerArchivePath(R"(K:\Dati\a.fdb)", map_); }), "Archivio \"K:\\Dati\\a.fdb\"" + refused);
  EXPECT_EQ(ErrorOf([&] { ServerArchivePath(R"(\\winsrv\d\Dati\a.fdb)", map_); }),
            "Archivio \"\\\\winsrv\\d\\Dati\\a.fdb\"" + refused);
}

// A drive-relative value names no place a server can know, and ".." would leave the mapped folder:
// both refused before the engine is asked.
TEST_F(ServerArchivePathTest, DriveRelativeValuesAndDotDotAreRefused) {
  WriteMap(kSambaLayout);
  const std::string notReached = " non raggiungibile da questo server: ";
  EXPECT_EQ(ErrorOf([&] { ServerArchivePath("G:ditta01.fdb", map_); }),
            "Archivio \"G:ditta01.fdb\"" + notReached + "manca il suo prefisso in " + map_);
  for (const std::string value : {R"(G:\Gestionale\..\..\etc\a.fdb)", R"(\\srv01\gestionale\Dati\..\..\a.fdb)"}) {
    EXPECT_EQ(ErrorOf([&] { ServerArchivePath(value, map_); }),
              "Archivio \"" + value + "\"" + notReached + "\"..\" nel percorso")
        << value;
  }
}

// The share finds "g:\GESTIONALE\dati\ditta01.fdb" for a desktop whatever the letter case; so does
// the server, folder by folder, where the name as written is missing.
TEST_F(ServerArchivePathTest, TheRestIsFoundWithoutRegardToLetterCase) {
  const std::string root = dir_.File("gestionale");
  std::filesystem::create_directories(root + "/Dati/Anno2026");
  std::filesystem::create_directories(root + "/dati2");
  std::ofstream(root + "/Dati/Anno2026/Ditta01.fdb") << "x";
  WriteMap("G:\\Gestionale = " + root + "\n");
  struct Case {
    std::string desktop;
    std::string server;
  };
  const Case cases[] = {
      {R"(g:\GESTIONALE\dati\anno2026\ditta01.FDB)", root + "/Dati/Anno2026/Ditta01.fdb"},
      {R"(G:\Gestionale\Dati\Anno2026\Ditta01.fdb)", root + "/Dati/Anno2026/Ditta01.fdb"},
      // From the first name found neither way, the rest as written.
      {R"(G:\Gestionale\DATI\Anno2025\ditta01.fdb)", root + "/Dati/Anno2025/ditta01.fdb"},
      {R"(G:\Gestionale\DATI2\a.fdb)", root + "/dati2/a.fdb"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServerArchivePath(c.desktop, map_), c.server) << c.desktop;
  // Two entries that differ in letter case alone: neither is guessed.
  std::filesystem::create_directories(root + "/DATI");
  EXPECT_EQ(ServerArchivePath(R"(G:\Gestionale\dAti\a.fdb)", map_), root + "/dAti/a.fdb");
}

// Values a server reads as they are never read the map, even a broken one.
TEST_F(ServerArchivePathTest, OtherValuesAreUsedAsTheyAre) {
  WriteMap("not a mapping\n");
  for (const std::string value : {"/srv/gestionale/ditta01/archivio.fdb", "localhost:/srv/a.fdb", "dbserver:ditta01",
                                  R"(srv01:D:\Dati\a.fdb)", "archivio.fdb", ""}) {
    EXPECT_EQ(ServerArchivePath(value, map_), value);
  }
  EXPECT_THROW(ServerArchivePath(R"(G:\Gestionale\a.fdb)", map_), Exception);
}

}  // namespace
}  // namespace korvane::config
