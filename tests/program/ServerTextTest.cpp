// Text of the registry's answer that is placed into the printed message can neither add lines
// nor make the line long: control characters become "?", and it is cut at 200 characters.
#include <gtest/gtest.h>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::TlsTestServer;

TEST(ServerText, ForgedAndLongAnswersGiveOneBoundedLine) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  const std::string huge(50 * 1024 * 1024, 'x');
  struct Case {
    std::string answer, out;
  };
  const Case cases[] = {
      {testing::JsonAnswer(R"({"success":"\r\n0042\r\n"})"), "'\?\?0042\?\?' is not a valid boolean value\r\n"},
      {testing::JsonAnswer(R"({"success":")" + huge + R"("})"),
       "'" + std::string(200, 'x') + "...' is not a valid boolean value\r\n"},
      {"HTTP/1.1 500 \x1B[2J\x1B[1;31mFake\rError\x07\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 500 ?[2J?[1;31mFake?Error?\r\n"},
  };
  for (const auto& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(c.answer), TlsTestServer::Close()});
    const auto result = testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
  }
  EXPECT_EQ(folder.Customers(), std::vector<std::string>{"0123"});
}

// An "Archivio" value holding a line break or a terminal escape (a stored value the engine places
// into its message): the message keeps the engine's own lines, CR LF between them, and shows the
// value's control characters as "?". Nothing is asked of the registry.
TEST(ServerText, ControlCharactersOfAStoredValueInAnEngineMessageAreQuestionMarks) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  const std::string archivio = folder.Archive() + "-manca\nx\x1B[2J.fdb";
  testing::RunIsql(folder.Users(), "UPDATE TABSOFTDES SET VALORE = '" + archivio + "' WHERE PARAMETRO = 'Archivio';\n");
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Close()});
  const auto result = testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  EXPECT_EQ(result.out, "I/O error during \"open\" operation for file \"" + folder.Archive() +
                            "-manca?x?[2J.fdb\"\r\nError while trying to open file\r\nNo such file or directory\r\n");
  EXPECT_EQ(result.exitCode, 1);
  registry.Stop();
  EXPECT_EQ(registry.Request(), "");
}

}  // namespace
}  // namespace korvane
