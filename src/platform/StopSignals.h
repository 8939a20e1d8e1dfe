#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// A run can be stopped by SIGTERM, SIGINT or SIGHUP until its insert's commit is sent; during the
// commit a stop waits a bounded time for the commit's answer. The database client library
// installs handlers of its own for some of these signals; so the signals are blocked in every
// thread and taken by one watcher thread instead, and a small gate decides whether a signal still
// ends the run or the run ends by itself.
namespace korvane::platform {

// Where the run stands as far as a stop signal is concerned. A stop signal wins only while a
// subject's import is running: once its commit is being sent, or the run is writing its line, the
// import ends by itself. A session imports subject after subject on one gate: between two of them
// (BeginSubject, EndSubject) a stop signal is kept for the session to read, so that the subject
// before it keeps its outcome and the next one does not start.
class RunGate {
 public:
  // Between subjects -> running, at the start of a subject's import. False, and nothing changes,
  // when a stop signal came since the last subject ended (or during its commit): the session ends
  // there. A new gate is running already.
  bool BeginSubject() noexcept;
  // Running (or a commit that answered) -> between subjects: the subject's outcome is settled.
  void EndSubject() noexcept;
  // The stop signal kept for the session since the last subject ended; empty when none came.
  std::string StopKept() const;

  // Running -> committing. Never returns when a stop signal has already won: the process is
  // being ended and the commit must not be sent. A stop signal during the commit then waits for
  // the commit's answer at most `answerWait`, and ends the run with `unanswered` (the line that
  // says the outcome is not known) when none came; with no such line it is ignored.
  void EnterCommit(std::string unanswered = {},
                   std::chrono::milliseconds answerWait = std::chrono::milliseconds::zero()) noexcept;
  // Committing -> running: the commit answered with a failure that wrote nothing, and the run may
  // try again. A stop signal that came during the commit then wins as before it.
  void LeaveCommit() noexcept;
  // Committing -> between subjects: the commit answered and the row is written. A stop signal that
  // came during the commit is kept for the session, and the commit's line is no longer anyone's.
  void CommitAnswered() noexcept;
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

  // What a stop signal that arrives now does, decided in the watcher's thread (which it may hold
  // during a commit, for at most the commit's answer wait).
  struct Stop {
    enum class Kind {
      Interrupt,        // the run is stopped: "Operazione interrotta (<signal>)", exit code 1
      EndSettled,       // the run is finishing: the process ends with its settled exit code
      Ignore,           // the run ends by itself (a commit whose outcome it is settling)
      Kept,             // between subjects: kept for the session, which ends after the last one
      CommitUnanswered  // the commit did not answer in time: `line`, exit code 1
    } kind;
    std::string line;
  };
  Stop OnStopSignal(std::string_view signalName = "SIGTERM") noexcept;

 private:
  enum class Stage { Running, Committing, Finishing, Interrupted, Between, Stopping };
  // Moves to `next` unless a stop signal won; then waits for the end of the process.
  void Advance(Stage next) noexcept;

  std::atomic<Stage> stage_{Stage::Running};
  std::atomic<int> exitCode_{1};
  std::atomic<std::uint64_t> linesBeforeFinish_{0};
  // The commit's line and answer wait, for a stop during it.
  mutable std::mutex commitLock_;
  std::string unanswered_;
  std::chrono::milliseconds answerWait_{0};
  // The name of the stop signal kept between subjects.
  std::string keptSignal_;
};

// The gate of this process.
RunGate& ProcessRunGate();

// Called in the watcher thread with the signal's name ("SIGTERM") when a stop signal wins.
using StopHandler = void (*)(std::string_view signalName);
// Called in the watcher thread with the line that ends a run whose commit did not answer in time
// after a stop signal.
using LineHandler = void (*)(std::string_view line);

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, and so in every thread created
// after it (the database client's among them). One that arrives from here on waits, pending,
// for the watcher. Call it first in main, before any other thread exists.
void BlockStopSignals() noexcept;

// Starts the thread that waits for the blocked stop signals (BlockStopSignals first). When one
// arrives while the process gate is running, `onStop` is called and the process ends at once
// with exit code 1; while the run is finishing, the process ends at once with the run's exit
// code; while the commit is being sent, the watcher waits for its answer as the gate says (the
// run then ends by itself, or is stopped when the commit failed; without an answer in time,
// `onUnanswered` writes the gate's line and the process ends with exit code 1). A signal the process was started
// with as ignored stays ignored.
void WatchStopSignals(StopHandler onStop, LineHandler onUnanswered = nullptr);

// Ends the process with `exitCode` (_exit, nothing more runs) `limit` from now unless it has
// ended before: what follows a settled outcome (releasing connections, the libraries' exit
// handlers) cannot hold it longer. Nothing happens when no thread can be had for it.
void EndProcessWithin(std::chrono::milliseconds limit, int exitCode) noexcept;

}  // namespace korvane::platform
