// A soak of the built program: many real imports, started in groups of one to eight over a few VAT
// numbers (so that runs for one number meet), on archives served by the local database server and
// embedded, against a scripted registry, each run with at most one fault drawn from the seed (a
// stop signal or SIGKILL at a random moment, its database connection cut at a random byte or gone
// silent, a registry that closes, stalls, drips, answers garbage or an error status or fails the
// handshake, a standard output closed, full or abandoned). Afterwards the archives, the registry's
// log and each run's exit and output are checked against what every run must do whatever happens to
// it. Beside them, for the launch time of --seconds, list sessions on a slot of their own: lists
// imported with --lista by runs stopped at random and resumed until settled, then refreshed with
// --aggiorna and --applica the same way (ListSessions.h says what is checked).
//
//   soak [--seed N] [--runs N] [--seconds S] [--group-size N] [--running N] [--grace S] [--korvane PROGRAM]
//        [--folder DIR] [--only I,J,...] [--no-silence] [--simulator PROGRAM] [--no-lists] [--keep] [--no-trace]
//        [--verbose]
//
// --runs and --seconds bound the runs started (at least one of them, or --only); runs still going
// when the launches end get --grace seconds (20) to finish. --group-size (8) bounds a group,
// --running (12) the runs going at once (a run past its first two seconds no longer counts). --only runs those run
// indices of the seed, all at once, in a new folder: each violation's reproducer. The local database server must be
// running on 127.0.0.1:3050 (scripts/firebird-server start); the soak only adds its own files in a new folder under
// --folder (/tmp), removed at the end unless --keep (or a run broke an invariant). --no-silence
// leaves out the silent database (its runs have no fault): for a program whose database calls
// have no bound of their own. --simulator names the registry simulator the list sessions ask (the
// one this build makes by default); --no-lists leaves the list sessions out.
//
// Prints its figures, each violation with the run's command, fault and a reproducer, then
//   soak: <runs> runs, <faults> faults, <violations> violations (seed <s>)
// and exits 1 when there is any violation (2 when it cannot run).

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "Checks.h"
#include "DatabaseRelay.h"
#include "ListSessions.h"
#include "RegistryServer.h"
#include "Soak.h"
#include "Workspace.h"
#include "serverlogin/ServerLogin.h"

namespace {

using namespace korvane::soak;

constexpr int kServerPort = 3050;
constexpr std::size_t kTracesPerKind = 3;

constexpr const char* kUsage =
    "usage: soak [--seed N] [--runs N] [--seconds S] [--group-size N] [--running N] [--grace S] [--korvane PROGRAM]\n"
    "            [--folder DIR] [--only I,J,...] [--no-silence] [--simulator PROGRAM] [--no-lists] [--keep] "
    "[--no-trace]\n"
    "            [--verbose]\n";

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "soak: " << problem << "\n" << kUsage;
  std::exit(2);
}

Options ReadOptions(int argc, char** argv, bool& seedGiven) {
  Options options;
#ifdef KORVANE_SOAK_PROGRAM
  options.program = KORVANE_SOAK_PROGRAM;
#endif
#ifdef KORVANE_SOAK_SIMULATOR
  options.simulator = KORVANE_SOAK_SIMULATOR;
#endif
  seedGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(option + " needs a value");
      return argv[++i];
    };
    try {
      if (option == "--seed") {
        options.seed = std::stoull(value());
        seedGiven = true;
      } else if (option == "--runs") {
        options.runs = std::stoi(value());
      } else if (option == "--seconds") {
        options.seconds = std::stod(value());
      } else if (option == "--group-size") {
        options.groupSize = std::clamp(std::stoi(value()), 1, 8);
      } else if (option == "--running") {
        options.running = std::clamp(std::stoi(value()), 1, kSlots);
      } else if (option == "--grace") {
        options.graceSeconds = std::stod(value());
      } else if (option == "--korvane") {
        options.program = value();
      } else if (option == "--folder") {
        options.parent = value();
      } else if (option == "--only") {
        std::stringstream list(value());
        for (std::string item; std::getline(list, item, ',');) options.only.push_back(std::stoi(item));
      } else if (option == "--simulator") {
        options.simulator = value();
      } else if (option == "--no-lists") {
        options.lists = false;
      } else if (option == "--no-silence") {
        options.silence = false;
      } else if (option == "--keep") {
        options.keep = true;
      } else if (option == "--no-trace") {
        options.trace = false;
      } else if (option == "--verbose") {
        options.verbose = true;
      } else if (option == "--help" || option == "-h") {
        std::cout << kUsage;
        std::exit(0);
      } else {
        Usage("unknown option " + option);
      }
    } catch (const std::logic_error&) {
      Usage("not a number for " + option);
    }
  }
  if (options.runs <= 0 && options.seconds <= 0 && options.only.empty()) Usage("give --runs, --seconds or --only");
  if (options.only.size() > static_cast<std::size_t>(kRunSlots)) Usage("--only takes at most 23 runs");
  if (options.lists && (options.simulator.empty() || access(options.simulator.c_str(), X_OK) != 0)) {
    Usage("no registry simulator for the lists at " + Quote(options.simulator) + " (--simulator, or --no-lists)");
  }
  if (options.program.empty() || access(options.program.c_str(), X_OK) != 0) {
    Usage("no program to soak at " + Quote(options.program) + " (--korvane)");
  }
  return options;
}

std::string ShellWord(const std::string& word) {
  if (!word.empty() &&
      word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./:=,+") ==
          std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (const char ch : word) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return quoted + "'";
}

std::string Command(const RunRecord& record) {
  std::vector<std::string> words{"env", "-i"};
  words.insert(words.end(), record.environment.begin(), record.environment.end());
  words.push_back(record.program);
  words.insert(words.end(), record.arguments.begin(), record.arguments.end());
  std::string command;
  for (const std::string& word : words) {
    if (!command.empty()) command += ' ';
    // The test server's password stays in its file.
    command += word.starts_with(kPasswordVariable)
                   ? std::string(kPasswordVariable) + "\"$(cat " + korvane::serverlogin::kPasswordFile + ")\""
                   : ShellWord(word);
  }
  return command;
}

std::string Ending(const RunRecord& record) {
  std::ostringstream text;
  if (record.cutShort) {
    text << "cut short at the soak's end";
  } else if (record.endSignal != 0) {
    text << "ended by signal " << record.endSignal;
  } else {
    text << "exit " << record.exitCode;
  }
  text << " after " << static_cast<long>(record.durationMs) << " ms";
  if (record.signalSentMs >= 0) text << " (signal sent at " << static_cast<long>(record.signalSentMs) << " ms)";
  text << "; stdout " << (record.outputSeen ? Quote(record.out) : "not read") << "; stderr " << Quote(record.err);
  return text.str();
}

std::string Median(std::vector<double> values, double share) {
  if (values.empty()) return "-";
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return std::to_string(static_cast<long>(values[at]));
}

// A message with its digits shown as "#", so that the same message for other numbers counts once.
std::string Shape(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::string shaped;
  for (const char ch : line) {
    if (ch >= '0' && ch <= '9') {
      if (shaped.empty() || shaped.back() != '#') shaped += '#';
    } else {
      shaped += ch;
    }
  }
  return shaped;
}

void PrintFigures(const Options& options, const SoakResult& result, const CheckOutcome& checks) {
  int exitZero = 0, exitOne = 0, killed = 0, cutShort = 0, other = 0;
  std::vector<double> durations;
  struct FaultCount {
    int drawn = 0;
    int fired = 0;
    int exitZero = 0;
    int exitOne = 0;
    std::vector<double> durations;  // of the runs whose fault fired and that ended by themselves
  };
  std::map<FaultKind, FaultCount> faults;
  std::map<std::string, int> messages;
  std::vector<double> usersBytes, archiveBytes, usersRequests, archiveRequests;
  for (const RunRecord& record : result.runs) {
    if (!record.launched) continue;
    if (record.cutShort) {
      ++cutShort;
    } else if (record.plan.fault.kind == FaultKind::Kill && record.endSignal == SIGKILL) {
      ++killed;
    } else if (record.endSignal == 0 && record.exitCode == 0) {
      ++exitZero;
    } else if (record.endSignal == 0 && record.exitCode == 1) {
      ++exitOne;
      if (record.outputSeen) ++messages[Shape(record.out)];
    } else {
      ++other;
    }
    if (!record.cutShort) durations.push_back(record.durationMs);
    FaultCount& count = faults[record.plan.fault.kind];
    ++count.drawn;
    if (record.faultFired) ++count.fired;
    if (!record.cutShort && record.endSignal == 0) ++(record.exitCode == 0 ? count.exitZero : count.exitOne);
    if (record.faultFired && !record.cutShort && record.endSignal == 0) count.durations.push_back(record.durationMs);
    if (record.plan.fault.kind == FaultKind::None && record.exitCode == 0) {
      if (!record.relay.bytes.empty()) usersBytes.push_back(static_cast<double>(record.relay.bytes[0]));
      if (record.relay.bytes.size() > 1) archiveBytes.push_back(static_cast<double>(record.relay.bytes[1]));
      if (!record.relay.requests.empty()) usersRequests.push_back(record.relay.requests[0]);
      if (record.relay.requests.size() > 1) archiveRequests.push_back(record.relay.requests[1]);
    }
  }
  const auto runs = result.runs.size();
  std::cout << std::fixed << std::setprecision(2);
  std::cout << "figures: " << runs << " runs in " << result.seconds << " s ("
            << (static_cast<double>(runs) / result.seconds) << " runs/s), groups of 1 to " << options.groupSize
            << " runs started together, at most " << options.running << " running at once (slow ones aside)\n";
  std::cout << "  ends: " << exitZero << " exit 0, " << exitOne << " exit 1, " << killed
            << " killed by a SIGKILL fault, " << checks.earlyStops
            << " ended by a stop signal before the program had set up its signals (no line promised), "
            << other - checks.earlyStops << " otherwise, " << cutShort << " cut short at the soak's end\n";
  if (!checks.locksLeftByKills.empty() || !result.engineLocksLeft.empty()) {
    std::cout << "  embedded engine mutexes left held by dead processes (released by the soak):";
    for (const std::string& left : checks.locksLeftByKills) std::cout << " " << left << " (SIGKILL);";
    for (const std::string& left : result.engineLocksLeft) std::cout << " " << left << " (no run known);";
    std::cout << "\n";
  }
  std::cout << "  run time: median " << Median(durations, 0.5) << " ms, 95th percentile " << Median(durations, 0.95)
            << " ms, longest " << Median(durations, 1.0) << " ms\n";
  std::cout << "  fault: runs, fired, exit 0, exit 1; ms from start to end when fired (median, longest)\n";
  for (const auto& [kind, count] : faults) {
    std::cout << "    " << std::left << std::setw(34) << FaultKindName(kind) << std::right << std::setw(6)
              << count.drawn << std::setw(6) << count.fired << std::setw(6) << count.exitZero << std::setw(6)
              << count.exitOne << std::setw(8) << Median(count.durations, 0.5) << std::setw(8)
              << Median(count.durations, 1.0) << "\n";
  }
  std::cout << "  database connections of a run without fault: users median " << Median(usersBytes, 0.5) << " bytes in "
            << Median(usersRequests, 0.5) << " requests, archive median " << Median(archiveBytes, 0.5) << " bytes in "
            << Median(archiveRequests, 0.5) << " requests\n";
  std::vector<std::pair<int, std::string>> ranked;
  for (const auto& [message, count] : messages) ranked.emplace_back(count, message);
  std::sort(ranked.rbegin(), ranked.rend());
  std::cout << "  messages of exit 1 (digits as #):\n";
  for (std::size_t i = 0; i < ranked.size() && i < 25; ++i) {
    std::cout << "    " << std::setw(5) << ranked[i].first << "  " << Quote(ranked[i].second) << "\n";
  }
  std::cout << std::defaultfloat;
}

void PrintViolations(const Options& options, const SoakResult& result, const CheckOutcome& checks,
                     const Workspace& workspace) {
  std::size_t number = 0;
  std::map<std::string, std::size_t> tracedOfKind;
  for (const Violation& violation : checks.violations) {
    ++number;
    if (violation.run < 0) {
      std::cout << "violation " << number << ": " << violation.what << " [" << violation.invariant << "]\n";
      continue;
    }
    const RunRecord& record = *result.Find(violation.run);
    const RunPlan& plan = record.plan;
    const Company& company = Companies()[static_cast<std::size_t>(plan.company)];
    std::cout << "violation " << number << ": run " << plan.index << ": " << violation.what << " ["
              << violation.invariant << "]\n";
    std::cout << "  run " << plan.index << " of group " << plan.group << ", slot " << record.slot << ": company "
              << company.ditta << (company.embedded ? " (embedded)" : " (server)") << ", " << kTableNames[plan.table]
              << ", P.IVA " << plan.piva << (record.storedAtLaunch ? " (stored before it began)" : "")
              << "; fault: " << Describe(plan.fault) << (record.faultFired ? "" : " (not fired)") << "\n";
    std::cout << "  command: " << Command(record) << "\n";
    std::cout << "  ended: " << Ending(record) << "\n";
    std::cout << "  registry: " << record.registry.connections << " connections, " << record.registry.handshakes
              << " handshakes, " << record.registry.requestBytes << " request bytes, " << record.registry.answers
              << " answers; database relay:";
    for (const std::size_t bytes : record.relay.bytes) std::cout << " " << bytes;
    std::cout << " bytes per connection" << (record.relay.cut ? ", cut" : "") << "\n";
    std::string group;
    for (const int other : Planner(options.seed, options.groupSize, options.silence).RunsOf(plan.group)) {
      if (!group.empty()) group += ',';
      group += std::to_string(other);
    }
    const std::string soak =
        options.self + " --korvane " + ShellWord(options.program) + " --seed " + std::to_string(options.seed) +
        (options.groupSize != Options{}.groupSize ? " --group-size " + std::to_string(options.groupSize) : "") +
        (options.silence ? "" : " --no-silence") + " --only ";
    std::cout << "  reproduce: " << soak << plan.index << "\n             with its group: " << soak << group << "\n";
    // The trace of the first few violations of each kind.
    if (options.trace && ++tracedOfKind[Shape(violation.what)] <= kTracesPerKind) {
      std::ifstream trace(workspace.TraceFile(plan.index));
      std::string line;
      bool any = false;
      while (std::getline(trace, line)) {
        if (!any) std::cout << "  trace:\n";
        any = true;
        std::cout << "    " << line << "\n";
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool seedGiven = false;
  Options options = ReadOptions(argc, argv, seedGiven);
  options.self = argv[0];
  if (!seedGiven) options.seed = std::random_device{}() % 1000000000;
  // The registry's writes to a client that has gone are errors, never the end of the soak.
  std::signal(SIGPIPE, SIG_IGN);
  WatchStopRequests();
  if (geteuid() != 0) {
    std::cerr << "soak: run as root (the database server's files are handed to its user)\n";
    return 2;
  }
  try {
    Workspace workspace(options.parent, options.keep);
    DatabaseRelay relay(kSlots, kServerPort);
    RegistryServer registry(workspace.CaFile(), kSlots);
    std::vector<int> relayPorts;
    for (int slot = 0; slot < kSlots; ++slot) relayPorts.push_back(relay.Port(slot));
    workspace.Populate(options.program, relayPorts);
    std::cout << "soak: seed " << options.seed << ", program " << options.program << ", folder " << workspace.Folder()
              << (options.keep ? " (kept)" : "") << std::endl;

    // The list sessions run beside the single runs, on a slot of their own, for the soak's launch
    // time (not with --runs or --only, which draw single runs alone).
    ListSoakResult lists;
    std::thread listThread;
    if (options.lists && options.seconds > 0 && options.only.empty()) {
      ListSoakOptions listOptions;
      listOptions.seed = options.seed;
      listOptions.end =
          Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
      listOptions.program = options.program;
      listOptions.simulator = options.simulator;
      listOptions.verbose = options.verbose;
      listThread = std::thread([&lists, listOptions, &workspace, &relay] {
        try {
          lists = RunListSessions(listOptions, workspace, relay);
        } catch (const std::exception& error) {
          lists.violations.push_back(std::string("the list sessions ended: ") + error.what());
        }
      });
    }
    Soak soak(options, workspace, relay, registry);
    const SoakResult result = soak.Run();
    if (listThread.joinable()) listThread.join();
    if (result.interrupted) {
      std::cout << "soak: interrupted after " << result.runs.size() << " runs (seed " << options.seed << ")\n";
      return 2;
    }
    const CheckOutcome checks = CheckSoak(result);
    PrintFigures(options, result, checks);
    PrintViolations(options, result, checks, workspace);
    std::cout << "lists: " << lists.sessions << " sessions, " << lists.settled << " settled, " << lists.refreshes
              << " refreshed, " << lists.runs << " runs (" << lists.faults << " with a fault)\n";
    for (const std::string& violation : lists.violations) std::cout << "violation: " << violation << "\n";
    int faults = lists.faults;
    for (const RunRecord& record : result.runs) faults += record.plan.fault.kind != FaultKind::None ? 1 : 0;
    std::set<int> violating;
    for (const Violation& violation : checks.violations) {
      if (violation.run >= 0) violating.insert(violation.run);
    }
    // A violation is read afterwards from what the runs left: the archives and their traces.
    const std::size_t violations = checks.violations.size() + lists.violations.size();
    if (violations > 0 && !options.keep) {
      workspace.KeepFor(violating);
      std::cout << "soak: folder kept for the violations: " << workspace.Folder()
                << " (the archives, the program folders, traces/<run>.trace of the runs named)\n";
    }
    std::cout << "soak: " << result.runs.size() + static_cast<std::size_t>(lists.runs) << " runs, " << faults
              << " faults, " << violations << " violations (seed " << options.seed << ")" << std::endl;
    return violations == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "soak: " << error.what() << std::endl;
    return 2;
  }
}
