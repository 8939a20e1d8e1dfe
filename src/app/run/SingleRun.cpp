#include "app/run/SingleRun.h"

#include "app/run/RunTrace.h"
#include "app/run/SubjectImport.h"

namespace korvane {

SingleRun::SingleRun(platform::RunGate& gate, std::string programFile)
    : gate_(gate), programFile_(std::move(programFile)) {}

SingleRun::~SingleRun() { Release(); }

RunOutcome SingleRun::Execute(const RunRequest& request) {
  RunOutcome outcome(request.refusal, 1);
  if (request.inputs) {
    TraceRunInputs(*request.inputs);
    outcome = CatchOutcome([&] {
      session_.Open(request.inputs->session, programFile_);
      return ImportSubject(session_, request.inputs->subject, gate_);
    });
  }
  // The outcome is settled: a stop signal from here on no longer replaces it.
  gate_.EnterFinish(outcome.exitCode);
  return outcome;
}

void SingleRun::Release() noexcept { session_.Release(); }

}  // namespace korvane
