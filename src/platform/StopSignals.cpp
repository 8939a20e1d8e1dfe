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

[[noreturn]] void Watch(sigset_t watched, StopHandler onStop, LineHandler onUnanswered) {
  ::pthread_setname_np(::pthread_self(), "stop-signals");
  while (true) {
    int number = 0;
    if (::sigwait(&watched, &number) != 0) continue;
    // Not exit() below: the run's objects, the client library's exit handlers and its threads
    // are left as they are. A transaction of a process that ends is never committed.
    RunGate::Stop stop = ProcessRunGate().OnStopSignal(NameOf(number));
    switch (stop.kind) {
      case RunGate::Stop::Kind::Interrupt: onStop(NameOf(number)); ::_exit(1);
      case RunGate::Stop::Kind::EndSettled:
        // Once the outcome is settled, the line the run may still be writing cannot change it.
        // That line goes out first (the new code, for a caller that stops the run right after
        // its commit), unless standard output holds it.
        if (const std::optional<int> exitCode = ProcessRunGate().SettledExitCode()) {
          ProcessRunGate().AwaitLine(kSettledLineWait);
          ::_exit(*exitCode);
        }
        break;
      case RunGate::Stop::Kind::CommitUnanswered:
        if (onUnanswered != nullptr) onUnanswered(stop.line);
        ::_exit(1);
      case RunGate::Stop::Kind::Ignore:
      case RunGate::Stop::Kind::Kept: break;
    }
  }
}

}  // namespace

bool RunGate::BeginSubject() noexcept {
  Stage current = stage_.load();
  while (current == Stage::Running || current == Stage::Between) {
    if (current == Stage::Running || stage_.compare_exchange_weak(current, Stage::Running)) return true;
  }
  return false;
}

void RunGate::EndSubject() noexcept {
  Stage current = stage_.load();
  while (current == Stage::Running || current == Stage::Committing) {
    if (stage_.compare_exchange_weak(current, Stage::Between)) return;
  }
}

std::string RunGate::StopKept() const {
  const std::lock_guard lock(commitLock_);
  return keptSignal_;
}

void RunGate::Advance(Stage next) noexcept {
  Stage current = stage_.load();
  while (current != Stage::Interrupted) {
    // No way back from writing the line.
    if (current == next || current == Stage::Finishing || stage_.compare_exchange_weak(current, next)) return;
  }
  // The watcher is ending the process; this thread must not go on.
  while (true) ::pause();
}

void RunGate::EnterCommit(std::string unanswered, std::chrono::milliseconds answerWait) noexcept {
  {
    const std::lock_guard lock(commitLock_);
    unanswered_ = std::move(unanswered);
    answerWait_ = answerWait;
  }
  Advance(Stage::Committing);
}

void RunGate::LeaveCommit() noexcept {
  Stage expected = Stage::Committing;
  stage_.compare_exchange_strong(expected, Stage::Running);
}

void RunGate::CommitAnswered() noexcept {
  Stage expected = Stage::Committing;
  stage_.compare_exchange_strong(expected, Stage::Between);
}

RunGate::Stop RunGate::OnStopSignal(std::string_view signalName) noexcept {
  std::string unanswered;
  std::chrono::steady_clock::time_point deadline;
  {
    const std::lock_guard lock(commitLock_);
    unanswered = unanswered_;
    deadline = std::chrono::steady_clock::now() + answerWait_;
  }
  // How often a stop during the commit looks whether the commit has answered.
  constexpr std::chrono::milliseconds kLook{10};
  bool committing = false;
  while (true) {
    Stage stage = stage_.load();
    switch (stage) {
      case Stage::Running:
        if (stage_.compare_exchange_strong(stage, Stage::Interrupted)) return {Stop::Kind::Interrupt, {}};
        continue;
      case Stage::Finishing:
        // A commit that answered and settled the outcome: the run writes its line and ends by
        // itself.
        return {committing ? Stop::Kind::Ignore : Stop::Kind::EndSettled, {}};
      case Stage::Interrupted: return {Stop::Kind::Ignore, {}};
      case Stage::Between: {
        // Kept under the lock before the stage says so: the session reads the name once it sees it.
        const std::lock_guard lock(commitLock_);
        keptSignal_ = signalName;
        if (stage_.compare_exchange_strong(stage, Stage::Stopping)) return {Stop::Kind::Kept, {}};
        continue;
      }
      case Stage::Stopping: return {Stop::Kind::Kept, {}};
      case Stage::Committing: break;
    }
    if (unanswered.empty()) return {Stop::Kind::Ignore, {}};
    committing = true;
    if (std::chrono::steady_clock::now() >= deadline) {
      if (stage_.compare_exchange_strong(stage, Stage::Interrupted)) {
        return {Stop::Kind::CommitUnanswered, std::move(unanswered)};
      }
      continue;
    }
    std::this_thread::sleep_for(kLook);
  }
}

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

void WatchStopSignals(StopHandler onStop, LineHandler onUnanswered) {
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
    std::thread(Watch, watched, onStop, onUnanswered).detach();
  } catch (const std::system_error&) {
    // Without a watcher the signals keep their ordinary effect (a pending one takes it now).
    ::pthread_sigmask(SIG_SETMASK, &gMaskBefore, nullptr);
  }
}

void EndProcessWithin(std::chrono::milliseconds limit, int exitCode) noexcept {
  try {
    std::thread([limit, exitCode] {
      ::pthread_setname_np(::pthread_self(), "end-within");
      std::this_thread::sleep_for(limit);
      ::_exit(exitCode);
    }).detach();
  } catch (const std::system_error&) {
    // The process ends as it can.
  }
}

}  // namespace korvane::platform
