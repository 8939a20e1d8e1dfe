// The registry token as runs of the built program meet it: from KORVANE_APITOKEN or the command
// line, and never in a core file of the process that holds it.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::StartedProgram;
using testing::TlsTestServer;

TEST(TokenHygiene, TheRegistryGetsTheTokenFromTheEnvironmentOrTheCommandLine) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  struct Case {
    bool onCommandLine;
    std::string authorization, out;
  };
  const Case cases[] = {{false, "\r\nAuthorization: Bearer dall-ambiente\r\n", "0124\r\n"},
                        {true, "\r\nAuthorization: Bearer segreto\r\n", "0125\r\n"}};
  for (const auto& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()),
                            TlsTestServer::Close()});
    auto environment = folder.Environment(registry);
    environment["KORVANE_APITOKEN"] = "dall-ambiente";
    const auto result = testing::RunProgram(folder.Program(), ProgramFolder::Arguments({}, c.onCommandLine), environment);
    EXPECT_EQ(result.out, c.out);
    EXPECT_NE(registry.Request().find(c.authorization), std::string::npos) << registry.Request();
    EXPECT_EQ(registry.Request().find("Bearer", registry.Request().find("Bearer") + 1), std::string::npos);
  }
}

// Ends a program started with an unlimited core size by SIGQUIT, once `ready` says it is where it
// should be, and tells whether it left a core file in its folder.
bool LeavesACoreFile(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, const std::function<bool()>& ready) {
  const testing::TempDir folder;
  std::vector<std::string> shellArguments = {"-c", "ulimit -c unlimited && exec \"$0\" \"$@\"", program};
  shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
  StartedProgram run("/bin/sh", shellArguments, environment, folder.Path().string());
  EXPECT_TRUE(ready());
  kill(run.Pid(), SIGQUIT);
  EXPECT_TRUE(run.Wait(20000));
  EXPECT_EQ(run.Result().signal, SIGQUIT);
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    if (entry.path().filename().string().rfind("core", 0) == 0) return true;
  }
  return false;
}

TEST(TokenHygiene, ARunLeavesNoCoreFile) {
  const bool dumps = LeavesACoreFile("/bin/sleep", {"30"}, {}, [] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return true;
  });
  if (!dumps) GTEST_SKIP() << "this machine writes no core files";

  const ProgramFolder folder(KORVANE_BINARY, false);
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
  EXPECT_FALSE(LeavesACoreFile(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry),
                               [&] { return registry.WaitForRequest(20000); }));
}

}  // namespace
}  // namespace korvane
