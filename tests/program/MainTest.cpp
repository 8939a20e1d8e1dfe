// The one line belongs to main: a committed import stays a success whatever happens to standard
// output, and no file the run opens can take standard output's place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::RunProgram;
using testing::StdoutTo;
using testing::TlsTestServer;

TlsTestServer Registry() {
  return TlsTestServer(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
}

// Whether any file under the folder holds these bytes.
bool AnyFileHolds(const std::filesystem::path& folder, const std::string& bytes) {
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(file), {}};
    if (content.find(bytes) != std::string::npos) return true;
  }
  return false;
}

TEST(Main, ACommittedImportSucceedsWhenItsLineCannotBeWritten) {
  for (const StdoutTo stdoutTo : {StdoutTo::FullDevice, StdoutTo::GoneReader}) {
    ProgramFolder folder(KORVANE_BINARY);
    TlsTestServer registry = Registry();
    const auto result =
        RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry), {}, stdoutTo);
    EXPECT_EQ(result.exitCode, 0) << static_cast<int>(stdoutTo);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"}));
  }
}

TEST(Main, AClosedStandardOutputIsNeverReplacedByAFile) {
  ProgramFolder folder(KORVANE_BINARY);
  TlsTestServer registry = Registry();
  const auto result =
      RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry), {}, StdoutTo::Closed);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"}));
  // The line went nowhere: not into a database, nor into the engine's lock files.
  EXPECT_FALSE(AnyFileHolds(std::filesystem::path(folder.Archive()).parent_path(), "0124\r\n"));
  EXPECT_FALSE(AnyFileHolds(std::filesystem::path(folder.Users()).parent_path(), "0124\r\n"));
  EXPECT_FALSE(AnyFileHolds("/tmp/firebird", "0124\r\n"));

  const auto failed = RunProgram(folder.Program(), {}, {}, {}, StdoutTo::Closed);
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.err, "");
}

TEST(Main, AFailureIntoAPipeWithoutReaderExitsWithOne) {
  const auto result = RunProgram(KORVANE_BINARY, {}, {}, {}, StdoutTo::GoneReader);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace korvane
