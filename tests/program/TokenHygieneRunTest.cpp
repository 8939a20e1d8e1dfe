// The registry token as runs of the built program meet it: from KORVANE_APITOKEN or the command
// line, and never in a core file of the process that holds it.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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
    TlsTestServer registry(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
    auto environment = folder.Environment(registry);
    environment["KORVANE_APITOKEN"] = "dall-ambiente";
    const auto result =
        testing::RunProgram(folder.Program(), ProgramFolder::Arguments({}, c.onCommandLine), environment);
    EXPECT_EQ(result.out, c.out);
    EXPECT_NE(registry.Request().find(c.authorization), std::string::npos) << registry.Request();
    EXPECT_EQ(registry.Request().find("Bearer", registry.Request().find("Bearer") + 1), std::string::npos);
  }
}

// Ends a program started with an unlimited core size by SIGQUIT, once `ready` says it is where it
// should be, and tells whether it left a core file in its folder.
bool LeavesACoreFile(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, const std::function<bool(pid_t)>& ready) {
  const testing::TempDir folder;
  std::vector<std::string> shellArguments = {"-c", "ulimit -c unlimited && exec \"$0\" \"$@\"", program};
  shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
  StartedProgram run("/bin/sh", shellArguments, environment, folder.Path().string());
  EXPECT_TRUE(ready(run.Pid()));
  kill(run.Pid(), SIGQUIT);
  EXPECT_TRUE(run.Wait(20000));
  EXPECT_EQ(run.Result().signal, SIGQUIT);
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    if (entry.path().filename().string().rfind("core", 0) == 0) return true;
  }
  return false;
}

// True once the process `pid` runs `program` (the shell in front of it has replaced itself by
// it); false when it ends first or 20 s pass.
bool WaitUntilItRuns(pid_t pid, const std::string& program) {
  const std::filesystem::path wanted = std::filesystem::canonical(program);
  const std::string proc = "/proc/" + std::to_string(pid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    if (std::filesystem::read_symlink(proc + "/exe", error) == wanted) return true;
    // "<pid> (<name>) <state> ...": a process that has ended is a zombie until it is waited for.
    std::ifstream stat(proc + "/stat");
    std::string line;
    if (!std::getline(stat, line) || line.substr(line.rfind(')') + 2, 1) == "Z") return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

TEST(TokenHygiene, ARunLeavesNoCoreFile) {
  const bool dumps =
      LeavesACoreFile("/bin/sleep", {"30"}, {}, [](pid_t pid) { return WaitUntilItRuns(pid, "/bin/sleep"); });
  if (!dumps) GTEST_SKIP() << "this machine writes no core files";

  const ProgramFolder folder(KORVANE_BINARY, false);
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
  EXPECT_FALSE(LeavesACoreFile(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry),
                               [&](pid_t) { return registry.WaitForRequest(20000); }));
}

}  // namespace
}  // namespace korvane
