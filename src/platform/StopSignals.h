#pragma once

#include <atomic>
#include <string_view>

// A run can be stopped by SIGTERM, SIGINT or SIGHUP until its insert's commit is sent. The
// database client library installs handlers of its own for some of these signals; so the
// signals are blocked in every thread and taken by one watcher thread instead, and a small gate
// decides whether a signal still ends the run or the run ends by itself.
namespace korvane::platform {

// Where the run stands as far as a stop signal is concerned. A stop signal wins only while the
// run is running: once the commit is being sent, or the run is writing its one line, the run
// ends by itself.
class RunGate {
 public:
  // Running -> interrupted. False when the run had already moved on.
  bool TryInterrupt() noexcept;
  // Running -> committing. Never returns when a stop signal has already won: the process is
  // being ended and the commit must not be sent.
  void EnterCommit() noexcept;
  // Running or committing -> finishing, before the run writes its line. Never returns when a
  // stop signal has already won: that line is the only one.
  void EnterFinish() noexcept;

 private:
  enum class Stage { Running, Committing, Finishing, Interrupted };
  // Moves to `next` unless a stop signal won; then waits for the end of the process.
  void Advance(Stage next) noexcept;

  std::atomic<Stage> stage_{Stage::Running};
};

// The gate of this process.
RunGate& ProcessRunGate();

// Called in the watcher thread with the signal's name ("SIGTERM") when a stop signal wins.
using StopHandler = void (*)(std::string_view signalName);

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, and so in every thread created
// after it (the database client's among them), and starts the thread that waits for them.
// When one arrives while the process gate is running, `onStop` is called and the process ends
// at once with exit code 1. A signal the process was started with as ignored stays ignored.
// Call it first in main, before any other thread exists.
void WatchStopSignals(StopHandler onStop);

}  // namespace korvane::platform
