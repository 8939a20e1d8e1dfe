#include "Soak.h"

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <iostream>
#include <thread>

#include "EngineLocks.h"
#include "RunProcess.h"
#include "serverlogin/ServerLogin.h"

namespace korvane::soak {

namespace {

// A run younger than this counts against the runs at once; an older one is slow and keeps its
// slot without holding up the others.
constexpr auto kActiveWindow = std::chrono::seconds(2);
// The bound of a run that can wait for nothing but its own work, and of one that may wait for a
// registry (its exchange is bounded at 60 s, a silent receive at 30 s) or for another run's
// lock on its company's setting (60 s at the most).
constexpr double kShortBoundSeconds = 30;
constexpr double kLongBoundSeconds = 90;
// The bound of a run whose database goes silent: the silent call given up (its bound, then the
// connection aborted), the look-up of a lost commit on a new connection (within the same bound),
// the end within seconds of the line; and, where its company's setting takes a lock, a wait for
// another run's lock (10 s at the most) before it.
constexpr double kSilentBoundSeconds = 20;
constexpr double kSilentLockBoundSeconds = 40;
// How long a killed run's attachment may outlive it on the server.
constexpr auto kAttachmentGrace = std::chrono::seconds(10);

std::atomic<int> stopRequested{0};

extern "C" void OnStop(int) { stopRequested = 1; }

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

Soak::Soak(const Options& options, Workspace& workspace, DatabaseRelay& relay, RegistryServer& registry)
    : options_(options), workspace_(workspace), relay_(relay), registry_(registry) {
  for (int slot = kRunSlots - 1; slot >= 0; --slot) freeSlots_.push_back(slot);
  companyRuns_.assign(Companies().size(), 0);
  stored_.assign(Companies().size(), std::vector<std::vector<bool>>(kTables, std::vector<bool>(VatPool().size())));
  for (auto& company : stored_) {
    for (auto& table : company) {
      for (std::size_t v = 0; v < VatPool().size(); ++v) table[v] = VatPool()[v].seeded;
    }
  }
}

int Soak::Active(Clock::time_point now) const {
  int active = 0;
  for (const std::size_t index : running_) {
    if (now - records_[index].start < kActiveWindow) ++active;
  }
  return active;
}

Soak::Readiness Soak::CanLaunch(const GroupPlan& group, int active) const {
  const int size = static_cast<int>(group.runs.size());
  if (active > 0 && active + size > options_.running) return Readiness::NoRoom;
  if (static_cast<int>(freeSlots_.size()) < size) return Readiness::NoRoom;
  for (const RunPlan& run : group.runs) {
    const Company& company = Companies()[static_cast<std::size_t>(run.company)];
    if (company.embedded && companyRuns_[static_cast<std::size_t>(run.company)] > 0) return Readiness::ArchiveBusy;
  }
  return Readiness::Ready;
}

void Soak::Launch(const RunPlan& plan) {
  RunRecord record;
  record.plan = plan;
  record.slot = freeSlots_.back();
  freeSlots_.pop_back();
  const Company& company = Companies()[static_cast<std::size_t>(plan.company)];
  const ExistingRule rule = company.existing[plan.table];
  record.storedAtLaunch = stored_[static_cast<std::size_t>(plan.company)][static_cast<std::size_t>(plan.table)]
                                 [static_cast<std::size_t>(plan.vat)];
  record.boundSeconds =
      rule == ExistingRule::Off && !IsRegistryFault(plan.fault.kind) ? kShortBoundSeconds : kLongBoundSeconds;
  if (plan.fault.kind == FaultKind::DatabaseSilent) {
    record.boundSeconds = rule == ExistingRule::Off ? kSilentBoundSeconds : kSilentLockBoundSeconds;
  }

  const std::string token = "soak-" + std::to_string(plan.index);
  record.program = workspace_.ProgramOf(record.slot);
  record.arguments = {"-UTENTE",       std::to_string(Workspace::UserOf(record.slot)),
                      "-DITTA",        company.ditta,
                      "-TIPOSOGGETTO", kKindSwitches[plan.table],
                      "-PIVA",         plan.piva};
  if (!plan.tokenInEnvironment) record.arguments.insert(record.arguments.end(), {"-APITOKEN", token});
  record.environment = {"PATH=/usr/bin:/bin", "SSL_CERT_FILE=" + workspace_.CaFile(),
                        "SSL_CERT_DIR=" + workspace_.CertificateFolder(),
                        "KORVANE_REGISTRY_URL=https://127.0.0.1:" + std::to_string(registry_.Port(record.slot)) +
                            (plan.successorFormat ? "/IT-start/" : "/base/")};
  if (plan.tokenInEnvironment) record.environment.push_back("KORVANE_APITOKEN=" + token);
  if (options_.trace) record.environment.push_back("KORVANE_TRACE=" + workspace_.TraceFile(plan.index));
  record.environment.push_back("FIREBIRD_LOCK=" + workspace_.LockFolder());
  // The users database and some archives go through the test server, whose login is not the
  // built-in one.
  record.environment.push_back(std::string("KORVANE_DB_USER=") + serverlogin::kUser);
  record.environment.push_back(kPasswordVariable + serverlogin::Password());
  record.environment.push_back("KORVANE_DB_TIMEOUT=" + std::to_string(kDatabaseTimeoutSeconds));

  relay_.Assign(record.slot, plan.index, plan.fault);
  registry_.Assign(record.slot, &plan);
  ++companyRuns_[static_cast<std::size_t>(plan.company)];
  records_.push_back(std::move(record));
  RunRecord& started = records_.back();
  StartProcess(started);
  running_.push_back(records_.size() - 1);
}

void Soak::Timers(Clock::time_point now, std::optional<Clock::time_point> hardEnd) {
  for (const std::size_t index : running_) {
    RunRecord& record = records_[index];
    const Fault& fault = record.plan.fault;
    const double age = MillisecondsBetween(record.start, now);
    if (!record.signalDone && (fault.kind == FaultKind::StopSignal || fault.kind == FaultKind::Kill) &&
        age >= fault.delayMs) {
      record.signalDone = true;
      if (fault.kind == FaultKind::StopSignal) record.stopSignalInMain = TouchedItsSignals(record.pid);
      if (kill(record.pid, fault.signal) == 0) {
        record.faultFired = true;
        record.signalSentMs = MillisecondsBetween(record.start, Clock::now());
      }
    }
    if (!record.abandonDone && fault.kind == FaultKind::StdoutAbandoned && age >= fault.delayMs) {
      record.abandonDone = true;
      record.faultFired = true;
      if (record.outFd >= 0) {
        close(record.outFd);
        record.outFd = -1;
      }
    }
    if (!record.killedAtBound && !record.cutShort) {
      if (age >= record.boundSeconds * 1000) {
        record.killedAtBound = true;
        kill(record.pid, SIGKILL);
      } else if (hardEnd && now >= *hardEnd) {
        record.cutShort = true;
        kill(record.pid, SIGKILL);
      }
    }
  }
}

void Soak::Reap() {
  for (std::size_t i = 0; i < running_.size();) {
    RunRecord& record = records_[running_[i]];
    int status = 0;
    const pid_t done = waitpid(record.pid, &status, WNOHANG);
    if (done != record.pid) {
      ++i;
      continue;
    }
    record.durationMs = MillisecondsBetween(record.start, Clock::now());
    if (WIFEXITED(status)) record.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) record.endSignal = WTERMSIG(status);
    DrainOutputs(record);
    Finish(record);
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
    // A process that ended abruptly may have died inside the embedded engine.
    const bool stopped = record.plan.fault.kind == FaultKind::StopSignal && record.faultFired && record.exitCode == 1;
    if (record.endSignal != 0 || stopped) {
      for (std::string& unknown : ReleaseEngineLocks()) unknownEngineLocks_.push_back(std::move(unknown));
    }
  }
}

std::vector<std::string> Soak::ReleaseEngineLocks() {
  std::vector<std::string> unknown;
  for (const DeadOwner& dead : ReleaseDeadOwners(workspace_.LockFolder())) {
    // The owner is a thread of the run whose process id is the largest one not above it.
    RunRecord* owner = nullptr;
    for (RunRecord& record : records_) {
      if (record.launched && record.pid <= dead.tid && (owner == nullptr || record.pid > owner->pid)) owner = &record;
    }
    const std::string what = dead.file + " (thread " + std::to_string(dead.tid) + ")";
    if (owner != nullptr && owner->ended && dead.tid - owner->pid < 1000) {
      owner->engineLocksLeft.push_back(what);
    } else {
      unknown.push_back(what);
    }
  }
  return unknown;
}

void Soak::Finish(RunRecord& record) {
  record.ended = true;
  const RunPlan& plan = record.plan;
  relay_.Assign(record.slot, -1, {});
  registry_.Assign(record.slot, nullptr);
  freeSlots_.push_back(record.slot);
  --companyRuns_[static_cast<std::size_t>(plan.company)];
  record.relay = relay_.Log(plan.index);
  if (plan.fault.kind == FaultKind::DatabaseCut) record.faultFired = record.relay.cut;
  if (plan.fault.kind == FaultKind::DatabaseSilent) record.faultFired = record.relay.silent;
  if (plan.fault.kind == FaultKind::StdoutClosed || plan.fault.kind == FaultKind::StdoutFull ||
      plan.fault.kind == FaultKind::StdoutBlocked || plan.fault.kind == FaultKind::StdoutGone) {
    record.faultFired = true;
  }
  // A committed subject's number is stored from now on: a later run with "Riusa" or "Rifiuta"
  // must find it before it pays.
  if (record.exitCode == 0 && record.endSignal == 0) {
    stored_[static_cast<std::size_t>(plan.company)][static_cast<std::size_t>(plan.table)]
           [static_cast<std::size_t>(plan.vat)] = true;
  }
  // A silent connection's server side is closed by the relay now that the run has ended.
  const bool killed = plan.fault.kind == FaultKind::Kill && record.endSignal == SIGKILL && !record.killedAtBound;
  if ((killed || record.relay.silent) && !record.cutShort) {
    killChecks_.push_back(
        {static_cast<std::size_t>(&record - records_.data()), record.pid, Clock::now() + kAttachmentGrace});
  }
  if (options_.verbose) {
    std::string line = record.out;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::cout << "run " << plan.index << " (slot " << record.slot << "): " << Describe(plan.fault) << " -> "
              << (record.endSignal ? "signal " + std::to_string(record.endSignal)
                                   : "exit " + std::to_string(record.exitCode))
              << " in " << static_cast<long>(record.durationMs) << " ms: " << line << "\n";
  }
}

// A killed run's attachments, and a silent one's, go once the server sees their connections
// close; one that stays holds its locks and blocks the runs after it.
void Soak::CheckKilled(bool final) {
  const Clock::time_point now = Clock::now();
  if (!final && now - lastKillCheck_ < std::chrono::milliseconds(100)) return;
  lastKillCheck_ = now;
  for (std::size_t i = 0; i < killChecks_.size();) {
    KillCheck& check = killChecks_[i];
    RunRecord& record = records_[check.record];
    const std::string select =
        "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$REMOTE_PID = " + std::to_string(check.pid);
    std::string holders;
    try {
      if (std::stoi(workspace_.Users().Query(select)[0][0].value_or("0")) > 0) holders += "users database";
      if (Attachment* archive = workspace_.ServedArchive(record.plan.company)) {
        if (std::stoi(archive->Query(select)[0][0].value_or("0")) > 0) {
          holders += std::string(holders.empty() ? "" : " and ") + "archive";
        }
      }
    } catch (const FirebirdError& error) {
      holders = std::string("(cannot tell: ") + error.what() + ")";
    }
    if (holders.empty()) {
      killChecks_.erase(killChecks_.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (final || Clock::now() >= check.deadline) {
      record.attachmentLeft = holders;
      killChecks_.erase(killChecks_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

bool StopRequested() { return stopRequested != 0; }

void WatchStopRequests() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

SoakResult Soak::Run() {
  SoakResult result;
  Planner planner(options_.seed, options_.groupSize, options_.silence);
  // Groups drawn and not yet started, oldest first: a group that waits for its embedded archive
  // lets the ones after it go.
  std::deque<GroupPlan> queue;
  int planned = 0;
  if (!options_.only.empty()) {
    GroupPlan group;
    for (const int index : options_.only) group.runs.push_back(planner.Run(index, planner.GroupOf(index)));
    planned = static_cast<int>(group.runs.size());
    queue.push_back(group);
  }
  const bool plansMore = options_.only.empty();
  const Clock::time_point begin = Clock::now();
  std::optional<Clock::time_point> launchesEnd;
  std::optional<Clock::time_point> hardEnd;
  while (true) {
    const Clock::time_point now = Clock::now();
    if (!launchesEnd) {
      const bool allPlanned = !plansMore || (options_.runs > 0 && planned >= options_.runs);
      const bool timeUp = options_.seconds > 0 && now - begin >= std::chrono::duration<double>(options_.seconds);
      if ((allPlanned && queue.empty()) || timeUp || stopRequested) {
        launchesEnd = now;
        hardEnd =
            now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.graceSeconds));
        queue.clear();
      }
    }
    if (stopRequested && !result.interrupted) {
      result.interrupted = true;
      hardEnd = now;
    }
    while (!launchesEnd) {
      while (plansMore && queue.size() < 4 && !(options_.runs > 0 && planned >= options_.runs)) {
        GroupPlan group = planner.NextGroup();
        if (options_.runs > 0 && planned + static_cast<int>(group.runs.size()) > options_.runs) {
          group.runs.resize(static_cast<std::size_t>(options_.runs - planned));
        }
        planned += static_cast<int>(group.runs.size());
        queue.push_back(std::move(group));
      }
      auto ready = queue.end();
      const int active = Active(now);
      for (auto group = queue.begin(); group != queue.end(); ++group) {
        const Readiness readiness = CanLaunch(*group, active);
        if (readiness == Readiness::Ready) ready = group;
        // A group waiting for room keeps its turn; one waiting for its archive gives it up.
        if (readiness != Readiness::ArchiveBusy) break;
      }
      if (ready == queue.end()) break;
      for (const RunPlan& run : ready->runs) Launch(run);
      queue.erase(ready);
    }
    Timers(Clock::now(), hardEnd);
    ReadOutputs(records_, running_, running_.empty() ? 20 : 5);
    Reap();
    CheckKilled(false);
    if (launchesEnd && running_.empty() && killChecks_.empty()) break;
    if (launchesEnd && running_.empty() && result.interrupted) break;
  }
  CheckKilled(true);
  result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  // The registry's workers may still be writing the last words of a run that has gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (RunRecord& record : records_) {
    record.registry = registry_.Log(record.plan.index);
    if (IsRegistryFault(record.plan.fault.kind)) record.faultFired = record.registry.connections > 0;
  }
  result.engineLocksLeft = std::move(unknownEngineLocks_);
  for (std::string& unknown : ReleaseEngineLocks()) result.engineLocksLeft.push_back(std::move(unknown));
  if (!result.interrupted) result.rows = workspace_.ReadAllRows();
  result.runs = std::move(records_);
  for (std::size_t i = 0; i < result.runs.size(); ++i) result.byIndex[result.runs[i].plan.index] = i;
  return result;
}

}  // namespace korvane::soak
