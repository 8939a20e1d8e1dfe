#pragma once

#include <string>

#include "app/inputs/RunInputs.h"
#include "app/run/RunOutcome.h"
#include "app/run/Session.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"

namespace korvane {

// One run of the tool: one session and the one subject imported on it. main prints the line
// between Execute and Release, so that nothing the release meets can cost the line.
class SingleRun {
 public:
  // `gate` learns when the commit is sent and when the outcome is settled (main hands in the
  // process's, which its stop signals consult); the users database is found from `programFile`.
  explicit SingleRun(platform::RunGate& gate, std::string programFile = platform::ProgramFilePath());
  // Release().
  ~SingleRun();
  SingleRun(const SingleRun&) = delete;
  SingleRun& operator=(const SingleRun&) = delete;

  // Opens the session the request asks for and imports its subject (a refused request is its
  // outcome), then settles the gate with the outcome: from here a stop signal ends the process
  // with the outcome's exit code. Releases nothing.
  RunOutcome Execute(const RunRequest& request);
  // Releases the session (the subject's import has ended what it created). Never throws.
  void Release() noexcept;

 private:
  platform::RunGate& gate_;
  std::string programFile_;
  Session session_;
};

}  // namespace korvane
