// Text of the registry's answer that is placed into the printed message can neither add lines
// nor make the line long: control characters become "?", and it is cut at 200 characters.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace korvane
