// The registry token may come from KORVANE_APITOKEN instead of the command line, where every
// local user sees it; and the process that holds it leaves no core file.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "app/Parametri.h"
#include "support/ErrorOf.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::StartedProgram;
using testing::TlsTestServer;

// The token a run would use, or the message that stops it.
std::string TokenOrMessage(const std::vector<std::string>& arguments, const std::string& environmentToken) {
  TParametri parametri(arguments, environmentToken);
  const std::string error = testing::ErrorOf([&] {
    parametri.ReadFromCmdLine();
    parametri.Check();
  });
  return error.empty() ? parametri.ApiToken() : error;
}

TEST(TokenHygiene, TheEnvironmentGivesTheTokenWhenTheCommandLineDoesNot) {
  const std::vector<std::string> noToken = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "1"};
  std::vector<std::string> withToken = noToken;
  withToken.insert(withToken.end(), {"-APITOKEN", "riga"});
  std::vector<std::string> tokenWithoutValue = noToken;
  tokenWithoutValue.push_back("-APITOKEN");
  struct Case {
    std::vector<std::string> arguments;
    std::string environmentToken, expected;
  };
  const Case cases[] = {
      {noToken, "ambiente", "ambiente"},
      {withToken, "ambiente", "riga"},
      {tokenWithoutValue, "ambiente", "ambiente"},
      {noToken, "", "Api Token non riconosciuto (parametro APITOKEN)"},
      {noToken, "T\r\nX-Injected: yes", "Api Token non riconosciuto (parametro APITOKEN)"},
      // The command line is still counted as given.
      {{"-UTENTE"}, "ambiente", "Parametri incompleti"},
      {{"-UTENTE", "5"}, "ambiente", "Ditta non riconosciuta (parametro DITTA)"},
  };
  for (const auto& c : cases) EXPECT_EQ(TokenOrMessage(c.arguments, c.environmentToken), c.expected);
}

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
