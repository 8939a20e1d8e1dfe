#include "platform/StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include <functional>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Process.h"

namespace korvane::platform {
namespace {

// A stop signal wins only before the commit is sent and before the run writes its line; after
// that the run ends by itself, and once it is finishing with the exit code it settled.
TEST(RunGate, AStopSignalWinsOnlyWhileTheRunIsRunning) {
  using Kind = RunGate::Stop::Kind;
  RunGate running;
  EXPECT_EQ(running.SettledExitCode(), std::nullopt);
  EXPECT_EQ(running.OnStopSignal().kind, Kind::Interrupt);
  EXPECT_EQ(running.OnStopSignal().kind, Kind::Ignore);  // the first one is ending the process
  EXPECT_EQ(running.SettledExitCode(), std::nullopt);

  RunGate committing;
  committing.EnterCommit();
  EXPECT_EQ(committing.OnStopSignal().kind, Kind::Ignore);
  EXPECT_EQ(committing.SettledExitCode(), std::nullopt);  // the commit's outcome is awaited
  committing.EnterFinish(0);                              // the commit's outcome is printed
  EXPECT_EQ(committing.OnStopSignal().kind, Kind::EndSettled);
  EXPECT_EQ(committing.SettledExitCode(), 0);

  RunGate finishing;
  finishing.EnterFinish(1);
  finishing.EnterCommit();  // no way back from writing the line
  EXPECT_EQ(finishing.OnStopSignal().kind, Kind::EndSettled);
  EXPECT_EQ(finishing.SettledExitCode(), 1);
}

// Subjects imported one after the other on one gate: once a subject's commit has answered (or the
// subject has ended) a stop signal neither waits for that commit nor says its line; it is kept,
// and the next subject does not begin. Without one, the next subject runs as the first did.
TEST(RunGate, BetweenSubjectsAStopIsKeptForTheSession) {
  using namespace std::chrono_literals;
  using Kind = RunGate::Stop::Kind;
  RunGate gate;
  ASSERT_TRUE(gate.BeginSubject());
  gate.EnterCommit("Esito della scrittura non verificabile (codice 0124)", 20s);
  gate.CommitAnswered();
  const auto start = std::chrono::steady_clock::now();
  const RunGate::Stop stop = gate.OnStopSignal("SIGINT");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);  // the commit's bound is not waited
  EXPECT_EQ(stop.kind, Kind::Kept);
  EXPECT_EQ(stop.line, "");
  gate.EndSubject();
  EXPECT_FALSE(gate.BeginSubject());
  EXPECT_EQ(gate.StopKept(), "SIGINT");
  gate.EnterFinish(0);  // the session still writes its last subject's line
  EXPECT_EQ(gate.SettledExitCode(), 0);

  RunGate next;
  ASSERT_TRUE(next.BeginSubject());
  next.EndSubject();  // a subject refused before its commit
  ASSERT_TRUE(next.BeginSubject());
  next.EnterCommit("Esito della scrittura non verificabile (codice 0125)", 5000ms);
  next.CommitAnswered();
  next.EndSubject();
  ASSERT_TRUE(next.BeginSubject());
  EXPECT_EQ(next.OnStopSignal().kind, Kind::Interrupt);
  EXPECT_FALSE(next.BeginSubject());
}

// A stop signal that comes once the outcome is settled, while the run's line waits for standard
// output (here a full pipe that its reader empties a moment later), lets the line out before the
// process ends with the settled exit code: a caller that stops a run right after its commit
// still reads the new code.
TEST(StopSignals, OnceSettledTheLineGoesOutBeforeTheEnd) {
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'x');
  std::size_t filled = 0;
  for (ssize_t n; (n = ::write(pipeFds[1], filler.data(), filler.size())) > 0;) filled += static_cast<std::size_t>(n);
  ::fcntl(pipeFds[1], F_SETFL, 0);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    BlockStopSignals();
    WatchStopSignals([](std::string_view) {});
    ProcessRunGate().EnterFinish(0);
    std::thread([] { WriteStdoutLineWithin("0124", std::chrono::seconds(3)); }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(::getpid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    ::_exit(3);  // the watcher did not end the process
  }
  ::close(pipeFds[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  std::string bytes;
  char buffer[65536];
  pollfd in{pipeFds[0], POLLIN, 0};
  while (::poll(&in, 1, 5000) == 1) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(bytes.size(), filled + 6);
  EXPECT_TRUE(bytes.ends_with("x0124\r\n")) << bytes.substr(bytes.size() - 10);
}

// A stop signal during the commit waits for the commit's answer, at most the wait given with it:
// a commit that settles the outcome lets the run end by itself, one that failed (the run would
// try again) lets the stop win, and one without an answer in time ends the run with the line that
// says the outcome is not known.
TEST(RunGate, AStopDuringTheCommitWaitsForItsAnswerWithinABound) {
  using namespace std::chrono_literals;
  using Kind = RunGate::Stop::Kind;
  struct Case {
    const char* name;
    std::function<void(RunGate&)> commitAnswer;  // what the run does 100 ms into the stop's wait
    Kind kind;
    std::chrono::milliseconds wait;  // the most the stop waits for the answer
  };
  // An answer ends the wait, not its bound: those cases wait long enough to tell the two apart on
  // any machine.
  const std::vector<Case> cases{
      {"committed", [](RunGate& gate) { gate.EnterFinish(0); }, Kind::Ignore, 20s},
      {"failed, nothing written", [](RunGate& gate) { gate.LeaveCommit(); }, Kind::Interrupt, 20s},
      {"committed, a session goes on", [](RunGate& gate) { gate.CommitAnswered(); }, Kind::Kept, 20s},
      {"no answer", [](RunGate&) {}, Kind::CommitUnanswered, 500ms},
  };
  for (const Case& c : cases) {
    RunGate gate;
    gate.EnterCommit("Esito della scrittura non verificabile (codice 0124)", c.wait);
    std::thread run([&] {
      std::this_thread::sleep_for(100ms);
      c.commitAnswer(gate);
    });
    const auto start = std::chrono::steady_clock::now();
    const RunGate::Stop stop = gate.OnStopSignal();
    const auto waited = std::chrono::steady_clock::now() - start;
    run.join();
    EXPECT_EQ(stop.kind, c.kind) << c.name;
    if (c.kind == Kind::CommitUnanswered) {
      EXPECT_EQ(stop.line, "Esito della scrittura non verificabile (codice 0124)");
      EXPECT_GE(waited, 500ms);
      // The run's own end no longer passes: the line above is the only one.
      EXPECT_EQ(gate.SettledExitCode(), std::nullopt);
    } else {
      EXPECT_LT(waited, c.wait / 2) << c.name;
    }
  }
  // A commit entered without a line keeps the old rule: the stop is ignored, the run ends itself.
  RunGate plain;
  plain.EnterCommit();
  EXPECT_EQ(plain.OnStopSignal().kind, Kind::Ignore);
  // Before the commit and while finishing, as always.
  RunGate running;
  EXPECT_EQ(running.OnStopSignal().kind, Kind::Interrupt);
  RunGate finishing;
  finishing.EnterFinish(0);
  EXPECT_EQ(finishing.OnStopSignal().kind, Kind::EndSettled);
}

}  // namespace
}  // namespace korvane::platform
