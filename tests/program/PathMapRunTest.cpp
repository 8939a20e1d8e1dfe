// An "Archivio" written as a Windows desktop sees it: the path map beside the users database
// translates its drive or share to the server's folder, or the run ends before the archive.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::TlsTestServer;

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The program folder with "Archivio" set to `archivio` and a map file holding `map` (none when
// empty).
void SetArchivio(const ProgramFolder& folder, const std::string& archivio, const std::string& map) {
  testing::RunIsql(folder.Users(), "UPDATE TABSOFTDES SET VALORE = '" + archivio + "';\n");
  if (!map.empty()) {
    std::ofstream(std::filesystem::path(folder.Users()).parent_path() / "mappa-percorsi.txt", std::ios::binary) << map;
  }
}

struct TracedRun {
  testing::ProgramResult result;
  std::string trace;
};
TracedRun RunTraced(const ProgramFolder& folder, const TlsTestServer& registry) {
  testing::TempDir dir;
  auto environment = folder.Environment(registry);
  environment["KORVANE_TRACE"] = dir.File("korvane.trace");
  TracedRun run{testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), environment), {}};
  run.trace = FileText(dir.File("korvane.trace"));
  return run;
}

TEST(PathMapRun, ADriveLetterAndANetworkPathImportIntoTheMappedFolder) {
  struct Case {
    std::string archivio;
    std::string prefix;
  };
  const Case cases[] = {
      {R"(G:\Gestionale\Ditte\archivio.fdb)", R"(G:\Gestionale\Ditte)"},
      {R"(\\srv01\gestionale\Ditte\archivio.fdb)", R"(\\SRV01\Gestionale\ditte)"},
  };
  for (const auto& c : cases) {
    ProgramFolder folder(KORVANE_BINARY);
    const std::string serverFolder = std::filesystem::path(folder.Archive()).parent_path().string();
    SetArchivio(folder, c.archivio, "# desktops\r\n" + c.prefix + " = " + serverFolder + "\r\n");
    TlsTestServer registry(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
    const auto run = RunTraced(folder, registry);
    EXPECT_EQ(run.result.out, "0124\r\n") << c.archivio;
    EXPECT_EQ(run.result.exitCode, 0) << c.archivio;
    EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"})) << c.archivio;
    EXPECT_NE(run.trace.find("path map: " + c.archivio + " -> " + folder.Archive() + " (line 2 of "), std::string::npos)
        << run.trace;
  }
}

// The client library never sees the value: no attach, no registry request.
TEST(PathMapRun, AnUnmappedDesktopPathEndsTheRunBeforeTheArchive) {
  struct Case {
    std::string archivio;
    std::string map;
  };
  const Case cases[] = {
      {R"(G:\Gestionale\Ditte\archivio.fdb)", ""},
      {R"(G:\Gestionale\Ditte\archivio.fdb)", "H:\\ = /srv/h\n"},
      {R"(\\srv01\gestionale\Ditte\archivio.fdb)", "G:\\ = /srv/g\n"},
  };
  for (const auto& c : cases) {
    ProgramFolder folder(KORVANE_BINARY);
    SetArchivio(folder, c.archivio, c.map);
    TlsTestServer registry({TlsTestServer::ExpectRequest()});
    const auto run = RunTraced(folder, registry);
    const std::string mapFile = (std::filesystem::path(folder.Users()).parent_path() / "mappa-percorsi.txt").string();
    EXPECT_EQ(run.result.out, "Archivio \"" + c.archivio +
                                  "\" non raggiungibile da questo server: manca il suo prefisso in " + mapFile +
                                  "\r\n");
    EXPECT_EQ(run.result.exitCode, 1);
    EXPECT_EQ(run.trace.find("opening the archive"), std::string::npos) << run.trace;
    registry.Stop();
    EXPECT_EQ(registry.Request(), "");
  }
}

}  // namespace
}  // namespace korvane
