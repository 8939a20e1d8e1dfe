#include "platform/StopSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <system_error>
#include <thread>

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

bool StartedAsIgnored(int number) {
  struct sigaction current {};
  return ::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

[[noreturn]] void Watch(sigset_t watched, StopHandler onStop) {
  ::pthread_setname_np(::pthread_self(), "stop-signals");
  while (true) {
    int number = 0;
    if (::sigwait(&watched, &number) != 0) continue;
    // After the commit was sent, or while the run writes its line, the run ends by itself.
    if (!ProcessRunGate().TryInterrupt()) continue;
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
void RunGate::EnterFinish() noexcept { Advance(Stage::Finishing); }

RunGate& ProcessRunGate() {
  static RunGate gate;
  return gate;
}

void WatchStopSignals(StopHandler onStop) {
  // All three are blocked, also one started as ignored: a handler the client library installs
  // later must not receive it in some thread.
  sigset_t blocked;
  sigset_t watched;
  sigemptyset(&blocked);
  sigemptyset(&watched);
  bool anyWatched = false;
  for (const auto& stopSignal : kStopSignals) {
    sigaddset(&blocked, stopSignal.number);
    if (StartedAsIgnored(stopSignal.number)) continue;
    sigaddset(&watched, stopSignal.number);
    anyWatched = true;
  }
  sigset_t previous;
  if (::pthread_sigmask(SIG_BLOCK, &blocked, &previous) != 0 || !anyWatched) return;
  try {
    std::thread(Watch, watched, onStop).detach();
  } catch (const std::system_error&) {
    // Without a watcher the signals keep their ordinary effect.
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
}

}  // namespace korvane::platform
