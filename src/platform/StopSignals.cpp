#include "platform/StopSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/Process.h"

namespace korvane::platform {

namespace {

struct StopSignal {
  int number;
  std::string_view name;
};

constexpr std::array<StopSignal, 3> kStopSignals{{{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}}};

std::string_view NameOf(int number) {
  for (const auto& stopSignal : kStopSignals) {
    if (stopSignal.number == number) return stopSignal.name;
  }
  return "?";
}

// How long a stop signal that comes once the outcome is settled lets its line go out.
constexpr std::chrono::milliseconds kSettledLineWait{500};

bool StartedAsIgnored(int number) {
  struct sigaction current {};
  return ::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

[[noreturn]] void Watch(sigset_t watched, StopHandler onStop) {
  ::pthread_setname_np(::pthread_self(), "stop-signals");
  while (true) {
    int number = 0;
    if (::sigwait(&watched, &number) != 0) continue;
    // While the commit is being sent the run ends by itself; once its outcome is settled, the
    // line it may still be writing cannot change it. That line goes out first (the new code,
    // for a caller that stops the run right after its commit), unless standard output holds it.
    if (!ProcessRunGate().TryInterrupt()) {
      if (const std::optional<int> exitCode = ProcessRunGate().SettledExitCode()) {
        ProcessRunGate().AwaitLine(kSettledLineWait);
        ::_exit(*exitCode);
      }
      continue;
    }
    onStop(NameOf(number));
    // Not exit(): the run's objects, the client library's exit handlers and its threads are
    // left as they are. A transaction of a process that ends is never committed.
    ::_exit(1);
  }
}

}  // namespace

bool RunGate::TryInterrupt() noexcept {
  Stage expected = Stage::Running;
  return stage_.compare_exchange_strong(expected, Stage::Interrupted);
}

void RunGate::Advance(Stage next) noexcept {
  Stage current = stage_.load();
  while (current != Stage::Interrupted) {
    if (current >= next || stage_.compare_exchange_weak(current, next)) return;
  }
  // The watcher is ending the process; this thread must not go on.
  while (true) ::pause();
}

void RunGate::EnterCommit() noexcept { Advance(Stage::Committing); }

void RunGate::EnterFinish(int exitCode) noexcept {
  // Stored before the stage: a watcher that sees the stage reads this code.
  exitCode_ = exitCode;
  linesBeforeFinish_ = StdoutLinesOver();
  Advance(Stage::Finishing);
}

std::optional<int> RunGate::SettledExitCode() const noexcept {
  if (stage_.load() != Stage::Finishing) return std::nullopt;
  return exitCode_.load();
}

void RunGate::AwaitLine(std::chrono::milliseconds limit) const noexcept {
  AwaitStdoutLinesOver(linesBeforeFinish_ + 1, limit);
}

RunGate& ProcessRunGate() {
  static RunGate gate;
  return gate;
}

namespace {

// The mask the process had before BlockStopSignals, given back when no watcher can be had.
sigset_t gMaskBefore;

}  // namespace

void BlockStopSignals() noexcept {
  // All three are blocked, also one started as ignored: a handler the client library installs
  // later must not receive it in some thread.
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const auto& stopSignal : kStopSignals) sigaddset(&blocked, stopSignal.number);
  ::pthread_sigmask(SIG_BLOCK, &blocked, &gMaskBefore);
}

void WatchStopSignals(StopHandler onStop) {
  sigset_t watched;
  sigemptyset(&watched);
  bool anyWatched = false;
  for (const auto& stopSignal : kStopSignals) {
    if (StartedAsIgnored(stopSignal.number)) continue;
    sigaddset(&watched, stopSignal.number);
    anyWatched = true;
  }
  if (!anyWatched) return;
  try {
    std::thread(Watch, watched, onStop).detach();
  } catch (const std::system_error&) {
    // Without a watcher the signals keep their ordinary effect (a pending one takes it now).
    ::pthread_sigmask(SIG_SETMASK, &gMaskBefore, nullptr);
  }
}

}  // namespace korvane::platform
