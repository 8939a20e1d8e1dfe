#include "app/run/SingleRun.h"

#include "app/run/RunTrace.h"
#include "app/run/SubjectImport.h"
#include "app/run/PaidRequest.h"
#include "app/run/WrittenBase.h"
#include "platform/Trace.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

// The answer paid for and the values written, kept in the store when the run was told where it
// is. The subject is committed: a store that cannot be opened or written changes nothing of the
// run's outcome or its line, only the trace says so.
void KeepInStore(Session& session, const SubjectInputs& subject, const RunOutcome& outcome) {
  const std::string& path = session.Inputs().options.answerStore;
  if (path.empty() || outcome.kind != OutcomeKind::Committed) return;
  try {
    store::AnswerStore store(path);
    if (!outcome.answerBody.empty()) {
      const std::int64_t now =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
      store.SaveAnswer(
          {0, subject.vatNumber.Cleaned(), AnswerEndpoint(session), now, outcome.answerBody, outcome.ledgerKey});
    }
    RecordInsertedBase(store, session, outcome.code, subject.vatNumber.Cleaned());
    platform::trace::Step("answer and values written kept in the store: " + path);
  } catch (const Exception& error) {
    platform::trace::Step("not kept in the store: " + error.Message());
  } catch (const std::exception& error) {
    platform::trace::Step(std::string("not kept in the store: ") + error.what());
  }
}

}  // namespace

SingleRun::SingleRun(platform::RunGate& gate, std::string programFile)
    : gate_(gate), programFile_(std::move(programFile)) {}

SingleRun::~SingleRun() { Release(); }

RunOutcome SingleRun::Execute(const RunRequest& request) {
  RunOutcome outcome(request.refusal, 1);
  if (request.inputs) {
    TraceRunInputs(*request.inputs);
    outcome = CatchOutcome([&] {
      session_.Open(request.inputs->session, programFile_);
      RunOutcome imported = ImportSubject(session_, request.inputs->subject, gate_);
      KeepInStore(session_, request.inputs->subject, imported);
      return imported;
    });
  }
  // The outcome is settled: a stop signal from here on no longer replaces it.
  gate_.EnterFinish(outcome.exitCode);
  return outcome;
}

void SingleRun::Release() noexcept { session_.Release(); }

}  // namespace korvane
