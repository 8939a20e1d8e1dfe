#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/check/FreeCheck.h"
#include "app/inputs/ProgramInformation.h"
#include "app/inputs/RunInputs.h"
#include "app/list/ListRun.h"
#include "app/refresh/RefreshRun.h"
#include "app/run/SingleRun.h"
#include "db/CallBound.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"

namespace {

// main is the only place that prints and ends the process in the normal flow; this is the
// documented exception. A stop signal arrived before the insert's commit was sent: the watcher
// thread writes this one line and ends the process with exit code 1 right after. A reader that
// does not read (a full pipe) holds the end back by half a second at the most.
void ReportStop(std::string_view signalName) {
  korvane::platform::WriteStdoutLineWithin("Operazione interrotta (" + std::string(signalName) + ")",
                                           std::chrono::milliseconds(500));
}

// The other line the watcher may write: a stop signal came during the commit, and the commit did not
// answer within the database's bound. The same half second at the most.
void ReportUnanswered(std::string_view line) {
  korvane::platform::WriteStdoutLineWithin(line, std::chrono::milliseconds(500));
}

// How long the process may take to end once its line is printed: releasing what the run opened (a
// detach the database does not answer) and the libraries' exit handlers are abandoned after it.
constexpr std::chrono::seconds kEndAfterLine{3};

// How long the run's line may wait for standard output to take it (a full pipe, a suspended
// terminal); the outcome is settled by then.
constexpr std::chrono::seconds kLineWait{3};

}  // namespace

int main(int argc, char** argv) {
  // First of all, and before any thread exists, so that every later thread inherits the blocked
  // stop signals: one that comes from here on waits for the watcher and gets its line. Before
  // main (the loader, the libraries' and our static initialisers, a few milliseconds that open
  // no file and ask no server) a stop signal still has its ordinary effect: the process ends
  // without a line, having done nothing.
  korvane::platform::BlockStopSignals();
  korvane::platform::OpenStandardDescriptors();
  korvane::platform::UseUtf8CharacterType();
  // No core file and no tracing by other users: the process holds the registry token.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  korvane::platform::IgnoreWriteSignals();
  // Once standard output is usable for the stop line, and before the trace file is opened.
  korvane::platform::WatchStopSignals(ReportStop, ReportUnanswered);
  // A trace asked for and refused is the one thing ever written to standard error.
  // Its first line names the version and the commit this program was built from.
  if (const std::string notice = korvane::platform::trace::Start(std::getenv("KORVANE_TRACE"), korvane::VersionLine());
      !notice.empty()) {
    korvane::platform::WriteStderrLine(notice, std::chrono::milliseconds(500));
  }

  // Arguments arrive as bytes; an empty one is dropped, as the command-line splitting the
  // callers know drops an empty pair of quotes.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    std::string argument = korvane::platform::SanitizeUtf8(argv[i]);
    if (!argument.empty()) arguments.push_back(std::move(argument));
  }
  // "--help", "-h", "-?" or "--version" alone asks about the program: no import is run.
  if (const std::optional<std::string> information = korvane::ProgramInformation(arguments)) {
    int exitCode = 0;
    try {
      korvane::platform::WriteStdout(*information);
    } catch (const korvane::Exception&) {
      exitCode = 1;
    }
    korvane::platform::trace::Step("exit code " + std::to_string(exitCode));
    return exitCode;
  }
  // "--lista": every VAT number of a file on one session, a report, a summary line.
  // "--aggiorna": the stored subjects compared with the registry, then merged; the same ending.
  if (korvane::IsListRequest(arguments) || korvane::IsRefreshRequest(arguments)) {
    const auto environment = [](const char* name) -> const char* { return std::getenv(name); };
    const korvane::RunOutcome outcome =
        korvane::IsRefreshRequest(arguments)
            ? korvane::RunRefresh(korvane::ReadRefreshRequest(std::move(arguments), environment),
                                  korvane::platform::ProgramFilePath())
            : korvane::RunList(korvane::ReadListRequest(std::move(arguments), environment),
                               korvane::platform::ProgramFilePath(), korvane::platform::ProcessRunGate());
    int exitCode = outcome.exitCode;
    korvane::platform::WriteStdoutLineWithin(outcome.line, kLineWait);
    korvane::platform::trace::Step("exit code " + std::to_string(exitCode));
    korvane::platform::EndProcessWithin(kEndAfterLine, exitCode);
    if (korvane::db::CallsLeftBehind()) ::_exit(exitCode);
    return exitCode;
  }
  // "--controlla" first: every step before the paid request, checked and reported, nothing paid.
  if (!arguments.empty() && arguments.front() == "--controlla") {
    arguments.erase(arguments.begin());
    const korvane::FreeCheckResult check = korvane::RunFreeCheck(
        std::move(arguments), [](const char* name) -> const char* { return std::getenv(name); },
        korvane::platform::ProgramFilePath());
    int exitCode = check.exitCode;
    try {
      korvane::platform::WriteStdout(check.text);
    } catch (const korvane::Exception&) {
      exitCode = 1;
    }
    korvane::platform::trace::Step("exit code " + std::to_string(exitCode));
    korvane::platform::EndProcessWithin(kEndAfterLine, exitCode);
    if (korvane::db::CallsLeftBehind()) ::_exit(exitCode);
    return exitCode;
  }
  // What the run was told, read once; nothing below reads the command line or the environment.
  const korvane::RunRequest request =
      korvane::ReadRunRequest(std::move(arguments), [](const char* name) -> const char* { return std::getenv(name); });
  korvane::SingleRun run(korvane::platform::ProcessRunGate());
  const korvane::RunOutcome outcome = run.Execute(request);
  // The line before the release: nothing that releasing the run's objects meets (a connection
  // that is gone, a server that does not answer) can cost it. A line that cannot be written in
  // time changes nothing: the exit code is the truth about the database.
  if (korvane::platform::WriteStdoutLineWithin(outcome.line, kLineWait)) {
    korvane::platform::trace::Step("line printed: " + outcome.line);
  } else {
    korvane::platform::trace::Step("line not written: " + outcome.line);
  }
  korvane::platform::EndProcessWithin(kEndAfterLine, outcome.exitCode);
  run.Release();
  korvane::platform::trace::Step("exit code " + std::to_string(outcome.exitCode));
  // An attach left to its thread would hold the client library's exit handlers.
  if (korvane::db::CallsLeftBehind()) ::_exit(outcome.exitCode);
  return outcome.exitCode;
}
