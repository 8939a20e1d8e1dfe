#pragma once

// The soak itself: runs the planned imports, up to a number at once, injecting each run's fault,
// and keeps what each run did for the checks.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DatabaseRelay.h"
#include "Plan.h"
#include "RegistryServer.h"
#include "Workspace.h"

namespace korvane::soak {

using Clock = std::chrono::steady_clock;

struct Options {
  std::uint64_t seed = 1;
  int runs = 0;        // 0: no limit
  double seconds = 0;  // 0: no limit
  int groupSize = 8;   // at most this many runs start together
  int running = 12;    // at most this many runs at once, slow ones aside
  double graceSeconds = 20;
  std::string program;
  std::string self;  // how the soak was started, for the reproducers
  std::string parent = "/tmp";
  std::vector<int> only;  // run only these indices, all at once
  bool silence = true;    // databases may go silent
  bool lists = true;      // list and refresh sessions beside the single runs
  std::string simulator;  // the registry simulator the list sessions ask
  bool keep = false;
  bool trace = true;
  bool verbose = false;
};

// One run: its plan, how it was started, and what it did.
// The run's database password, in its environment; a reproducer names the file it comes from.
inline constexpr const char* kPasswordVariable = "KORVANE_DB_PASSWORD=";

struct RunRecord {
  RunPlan plan;
  int slot = -1;
  std::string program;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // NAME=value, the whole environment

  bool launched = false;
  bool ended = false;
  pid_t pid = -1;
  Clock::time_point start;
  double durationMs = 0;
  int exitCode = -1;  // -1: ended by a signal
  int endSignal = 0;
  std::string out;
  std::string err;
  double lineMs = -1;      // when its standard output's first bytes came
  bool outputSeen = true;  // standard output was captured whole

  bool faultFired = false;
  bool stopSignalInMain = false;  // the stop signal came once the program had set up its signals
  double signalSentMs = -1;
  bool killedAtBound = false;
  bool cutShort = false;  // still running when the soak ended
  double boundSeconds = 0;
  bool storedAtLaunch = false;               // its number was known stored in its table when it started
  std::string attachmentLeft;                // the server still held an attachment of the killed or silent run
  std::vector<std::string> engineLocksLeft;  // shared engine mutexes it died holding (released since)
  RelayLog relay;
  RegistryLog registry;

  // While it runs.
  int outFd = -1;
  int errFd = -1;
  int heldFd = -1;  // the read end of a full pipe, kept open and never read
  bool signalDone = false;
  bool abandonDone = false;
};

struct SoakResult {
  std::vector<RunRecord> runs;
  std::map<int, std::size_t> byIndex;  // a run's place in `runs` by its index

  const RunRecord* Find(int index) const {
    const auto found = byIndex.find(index);
    return found == byIndex.end() ? nullptr : &runs[found->second];
  }

  std::vector<StoredRow> rows;
  std::vector<std::string> engineLocksLeft;  // found at the end, of no run known
  double seconds = 0;
  bool interrupted = false;
};

class Soak {
 public:
  Soak(const Options& options, Workspace& workspace, DatabaseRelay& relay, RegistryServer& registry);
  SoakResult Run();

 private:
  struct KillCheck {
    std::size_t record;
    pid_t pid;
    Clock::time_point deadline;
  };

  enum class Readiness { Ready, NoRoom, ArchiveBusy };
  Readiness CanLaunch(const GroupPlan& group, int active) const;
  void Launch(const RunPlan& plan);
  void Timers(Clock::time_point now, std::optional<Clock::time_point> hardEnd);
  void Reap();
  void Finish(RunRecord& record);
  void CheckKilled(bool final);
  // Releases the engine's shared mutexes left held by dead threads, noting them on the runs
  // those threads belonged to; returns those of no known run.
  std::vector<std::string> ReleaseEngineLocks();
  int Active(Clock::time_point now) const;

  const Options& options_;
  Workspace& workspace_;
  DatabaseRelay& relay_;
  RegistryServer& registry_;
  std::vector<RunRecord> records_;
  std::vector<std::size_t> running_;
  std::vector<int> freeSlots_;
  std::vector<int> companyRuns_;
  // Per company and table, the pool numbers known to be stored.
  std::vector<std::vector<std::vector<bool>>> stored_;
  std::vector<KillCheck> killChecks_;
  std::vector<std::string> unknownEngineLocks_;
  Clock::time_point lastKillCheck_;
};

// SIGINT, SIGTERM and SIGHUP end the soak early: the runs are killed, its folder removed.
void WatchStopRequests();
bool StopRequested();

// Every run's KORVANE_DB_TIMEOUT: low, so that a silent database ends a run soon.
inline constexpr int kDatabaseTimeoutSeconds = 3;
// After its line a run ends within this, whatever its database does.
inline constexpr int kEndAfterLineSeconds = 3;

// Slots: more than runs at once, so that slow runs (a registry that never answers, a program
// that does not end) keep theirs while others go on.
inline constexpr int kSlots = 24;
// The last slot is the list sessions' (ListSessions.h), which run beside the single runs.
inline constexpr int kListSlot = kSlots - 1;
inline constexpr int kRunSlots = kSlots - 1;

}  // namespace korvane::soak
