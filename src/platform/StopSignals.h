#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
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
  // Running or committing -> finishing, before the run writes its line, with the exit code it
  // settled. Never returns when a stop signal has already won: that line is the only one. From
  // here a stop signal ends the process soon with that exit code: the outcome stands, its line
  // (WriteStdoutLineWithin) goes out first unless standard output holds it half a second, and
  // only the release of the run's objects is cut short.
  void EnterFinish(int exitCode) noexcept;
  // The exit code given to EnterFinish, once the run is finishing.
  std::optional<int> SettledExitCode() const noexcept;
  // Once the run is finishing: waits at most `limit` for its line to be over (a line of
  // WriteStdoutLineWithin begun after EnterFinish, written or failed).
  void AwaitLine(std::chrono::milliseconds limit) const noexcept;

 private:
  enum class Stage { Running, Committing, Finishing, Interrupted };
  // Moves to `next` unless a stop signal won; then waits for the end of the process.
  void Advance(Stage next) noexcept;

  std::atomic<Stage> stage_{Stage::Running};
  std::atomic<int> exitCode_{1};
  std::atomic<std::uint64_t> linesBeforeFinish_{0};
};

// The gate of this process.
RunGate& ProcessRunGate();

// Called in the watcher thread with the signal's name ("SIGTERM") when a stop signal wins.
using StopHandler = void (*)(std::string_view signalName);

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, and so in every thread created
// after it (the database client's among them). One that arrives from here on waits, pending,
// for the watcher. Call it first in main, before any other thread exists.
void BlockStopSignals() noexcept;

// Starts the thread that waits for the blocked stop signals (BlockStopSignals first). When one
// arrives while the process gate is running, `onStop` is called and the process ends at once
// with exit code 1; while the run is finishing, the process ends at once with the run's exit
// code; while the commit is being sent, the signal is ignored. A signal the process was started
// with as ignored stays ignored.
void WatchStopSignals(StopHandler onStop);

}  // namespace korvane::platform
