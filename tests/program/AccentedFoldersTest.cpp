// Folders whose names hold accents, as firms name them: the program folder (and its users
// database), the "Archivio" path (Windows-1252 text in the users database) and a dati.ini's
// value, through the engine in the process and through the server, whatever the caller's locale.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::ProgramFolderOptions;
using testing::TlsTestServer;

constexpr const char* kFolderName = "Contabilità/Società Bianchi & C.";

testing::ProgramResult Import(const ProgramFolder& folder) {
  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  auto environment = folder.Environment(registry);
  // A caller without a locale (cron, a service) changes nothing.
  environment["LC_ALL"] = "C";
  environment["LANG"] = "C";
  return testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
}

TEST(AccentedFolders, AnImportOpensThemEmbeddedAndThroughTheServer) {
  struct Case {
    std::string name;
    ProgramFolderOptions options;
  };
  const Case cases[] = {
      {"embedded", {.folderName = kFolderName}},
      {"archive through the server", {.throughServer = true, .folderName = kFolderName}},
      {"both through the server, the users database by dati.ini",
       {.throughServer = true, .usersThroughServer = true, .folderName = kFolderName}},
  };
  for (const auto& c : cases) {
    ProgramFolder folder(KORVANE_BINARY, c.options);
    ASSERT_NE(folder.Program().find("Società Bianchi & C./bin/korvane"), std::string::npos);
    const auto result = Import(folder);
    EXPECT_EQ(result.out, "0124\r\n") << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    EXPECT_EQ(result.exitCode, 0) << c.name;
    EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"})) << c.name;
  }
}

// A folder whose name is not UTF-8 (a byte 0xFF, as a copy from an old system leaves it) holds
// the program: the databases open through the server all the same. The client library sends what
// it learns of the process (its file's path) inside the parameter block, which says its strings
// are UTF-8; the run gives it a valid name instead. The engine in the process cannot open a file
// whose own path is not UTF-8 (it resolves the path and cannot convert it): a users database
// inside such a folder is refused with a message of one clean line per reason, before any attach.
TEST(AccentedFolders, AProgramFolderWhoseNameIsNotUtf8) {
  const std::string notUtf8 = "Gestione \xFF/Ditta";
  {
    ProgramFolder folder(KORVANE_BINARY,
                         {.throughServer = true, .usersThroughServer = true, .programFolderName = notUtf8});
    ASSERT_NE(folder.Program().find("\xFF/Ditta/bin/korvane"), std::string::npos);
    const auto result = Import(folder);
    EXPECT_EQ(result.out, "0124\r\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"}));
  }
  {
    ProgramFolder folder(KORVANE_BINARY, {.throughServer = true, .programFolderName = notUtf8});
    const auto result = Import(folder);
    std::string shown = folder.Users();
    shown.replace(shown.find('\xFF'), 1, "\uFFFD");
    EXPECT_EQ(result.out,
              "I/O error during \"open\" operation for file \"" + shown + "\"\r\nfile name not valid UTF-8\r\n");
    EXPECT_EQ(result.exitCode, 1);
  }
}

// The engine's message names the path as it is written.
TEST(AccentedFolders, AMessageNamesThePathInUtf8) {
  for (const bool throughServer : {false, true}) {
    ProgramFolder folder(KORVANE_BINARY,
                         ProgramFolderOptions{.throughServer = throughServer, .folderName = kFolderName});
    std::filesystem::remove(folder.Archive());
    const auto result = Import(folder);
    const std::string named = "I/O error during \"open\" operation for file \"" + folder.Archive() + "\"\r\n";
    EXPECT_EQ(result.out.substr(0, named.size()), named) << result.out;
    EXPECT_EQ(result.exitCode, 1);
  }
}

}  // namespace
}  // namespace korvane
