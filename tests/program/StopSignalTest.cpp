// SIGTERM, SIGINT and SIGHUP stop a run of the built program before its commit: one line, exit
// code 1, no row, whatever the database client library does with these signals.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "loopback/Loopback.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::StartedProgram;
using testing::TlsTestServer;
using Rows = std::vector<std::string>;

struct StopSignal {
  int number;
  std::string line;
};

const StopSignal kStopSignals[] = {{SIGTERM, "Operazione interrotta (SIGTERM)\r\n"},
                                   {SIGINT, "Operazione interrotta (SIGINT)\r\n"},
                                   {SIGHUP, "Operazione interrotta (SIGHUP)\r\n"}};

// The signals a thread or process blocks, from its /proc status file; nullopt when the file is
// gone or the process is a zombie (it has ended).
std::optional<std::uint64_t> BlockedSignals(const std::filesystem::path& statusFile) {
  std::ifstream status(statusFile);
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("State:", 0) == 0 && line.find("Z (zombie)") != std::string::npos) return std::nullopt;
    if (line.rfind("SigBlk:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
  }
  return std::nullopt;
}

bool Blocks(std::uint64_t blocked, int signal) { return (blocked & (std::uint64_t{1} << (signal - 1))) != 0; }

// The threads, other than the one watcher, that would take one of the three signals themselves
// (and so run whatever handler the client library installed): "<thread id>:<signal> ...".
// The watcher shows them unblocked while it waits for them.
std::string ThreadsNotBlocking(pid_t pid) {
  std::string threads;
  int watchers = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == "stop-signals" && ++watchers == 1) continue;
    const std::optional<std::uint64_t> blocked = BlockedSignals(task.path() / "status");
    if (!blocked) continue;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
      if (!Blocks(*blocked, number)) threads += task.path().filename().string() + ":" + std::to_string(number) + " ";
    }
  }
  return threads;
}

// Stops a run that waits for the registry with each signal in turn, then checks that nothing
// was written and that an ordinary run still works.
void StopWhileTheRegistryIsSilent(const ProgramFolder& folder) {
  for (const auto& stop : kStopSignals) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
    StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
    ASSERT_TRUE(registry.WaitForRequest(20000)) << "the run did not reach the registry";
    EXPECT_EQ(ThreadsNotBlocking(run.Pid()), "");
    ASSERT_EQ(kill(run.Pid(), stop.number), 0);
    ASSERT_TRUE(run.Wait(1000)) << "still running 1 s after signal " << stop.number;
    EXPECT_EQ(run.Result().out, stop.line);
    EXPECT_EQ(run.Result().err, "");
    EXPECT_EQ(run.Result().exitCode, 1);
  }
  EXPECT_EQ(folder.Customers(), Rows{"0123"});

  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  const auto next = testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  EXPECT_EQ(next.out, "0124\r\n");
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"}));
}

TEST(StopSignal, EndsARunOnTheEmbeddedEngine) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  StopWhileTheRegistryIsSilent(folder);
}

TEST(StopSignal, EndsARunThroughTheServer) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  StopWhileTheRegistryIsSilent(folder);
}

// A registry that takes the connection and never answers the handshake: the run waits for its
// prepared channel at the registry step, and a signal ends it there as anywhere else.
TEST(StopSignal, EndsARunWhoseChannelIsStillBeingPrepared) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  TlsTestServer registry({TlsTestServer::StaySilent()}, {.handshake = false});
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  EXPECT_FALSE(run.Wait(1500));
  EXPECT_EQ(ThreadsNotBlocking(run.Pid()), "");
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(1000));
  EXPECT_EQ(run.Result().out, "Operazione interrotta (SIGTERM)\r\n");
  EXPECT_EQ(run.Result().exitCode, 1);
  EXPECT_EQ(folder.Customers(), Rows{"0123"});
}

// Started under nohup, the run keeps ignoring SIGHUP; the other signals still stop it.
TEST(StopSignal, ASignalIgnoredAtStartStaysIgnored) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
  std::vector<std::string> arguments = ProgramFolder::Arguments();
  arguments.insert(arguments.begin(), folder.Program());
  StartedProgram run("/usr/bin/nohup", arguments, folder.Environment(registry));
  ASSERT_TRUE(registry.WaitForRequest(20000));
  ASSERT_EQ(kill(run.Pid(), SIGHUP), 0);
  EXPECT_FALSE(run.Wait(500));
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(1000));
  EXPECT_EQ(run.Result().out, "Operazione interrotta (SIGTERM)\r\n");
  EXPECT_EQ(run.Result().err, "");
  EXPECT_EQ(folder.Customers(), Rows{"0123"});
}

// True once the process `pid` blocks `signal`, as /proc tells; false when it ends first or the
// time runs out.
bool WaitUntilBlocked(pid_t pid, int signal, int milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until) {
    const std::optional<std::uint64_t> blocked = BlockedSignals("/proc/" + std::to_string(pid) + "/status");
    if (!blocked) return false;
    if (Blocks(*blocked, signal)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// A signal in the first moments of main, before the watcher runs (held open here by a slow first
// step, preloaded into the program), waits for the watcher and gets its line.
TEST(StopSignal, ASignalAtTheStartOfMainGetsItsLine) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()}, {.lifetimeMs = 3000});
  auto environment = folder.Environment(registry);
  environment["LD_PRELOAD"] = KORVANE_SLOW_START;
  // A sanitizer build would refuse a library loaded ahead of its runtime.
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), environment);
  // The signal goes once main has blocked the stop signals, not after a guess at the start-up's
  // length (a sanitizer build takes far longer to reach main).
  ASSERT_TRUE(WaitUntilBlocked(run.Pid(), SIGTERM, 20000));
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(2000)) << "still running 2 s after the signal";
  EXPECT_EQ(run.Result().signal, 0);
  EXPECT_EQ(run.Result().out, "Operazione interrotta (SIGTERM)\r\n");
  EXPECT_EQ(run.Result().exitCode, 1);
  registry.Stop();
  EXPECT_EQ(folder.Customers(), Rows{"0123"});
}

// A database server that takes the connection and never answers.
class SilentDatabaseServer {
 public:
  SilentDatabaseServer() = default;
  ~SilentDatabaseServer() {
    if (connection_ >= 0) close(connection_);
  }
  SilentDatabaseServer(const SilentDatabaseServer&) = delete;
  SilentDatabaseServer& operator=(const SilentDatabaseServer&) = delete;

  int Port() const { return listener_.Port(); }
  // True once a client has connected and sent its first bytes: it now waits for the answer.
  bool WaitForClient(int milliseconds) {
    pollfd entry{listener_.Handle(), POLLIN, 0};
    if (poll(&entry, 1, milliseconds) != 1) return false;
    connection_ = accept4(listener_.Handle(), nullptr, nullptr, SOCK_CLOEXEC);
    pollfd data{connection_, POLLIN, 0};
    return connection_ >= 0 && poll(&data, 1, milliseconds) == 1;
  }

 private:
  loopback::Listener listener_{0, 4};
  int connection_ = -1;
};

TEST(StopSignal, EndsARunThatWaitsForTheDatabaseServer) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  SilentDatabaseServer server;
  testing::RunIsql(folder.Users(), "UPDATE TABSOFTDES SET VALORE = '127.0.0.1/" + std::to_string(server.Port()) +
                                       ":/nowhere/archivio.fdb';\n");
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()}, {.lifetimeMs = 3000});
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  ASSERT_TRUE(server.WaitForClient(20000));
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(1000)) << "still running 1 s after the signal";
  EXPECT_EQ(run.Result().out, "Operazione interrotta (SIGTERM)\r\n");
  EXPECT_EQ(run.Result().exitCode, 1);
  EXPECT_FALSE(registry.WaitForRequest(0));
}

}  // namespace
}  // namespace korvane
