#include "app/list/RowFailure.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

RunOutcome Failure(OutcomeKind kind, bool asked, int status, std::string line = "failure") {
  RunOutcome outcome(std::move(line), 1, kind);
  outcome.registryAsked = asked;
  outcome.registryStatus = status;
  outcome.requestSent = status != 0;
  return outcome;
}

TEST(RowFailure, TheTypedOutcomeDecidesWhereItCan) {
  const struct {
    RunOutcome outcome;
    FailureKind kind;
  } cases[] = {
      {Failure(OutcomeKind::PaidNotWritten, true, 401), FailureKind::WholeRun},
      {Failure(OutcomeKind::PaidNotWritten, true, 402), FailureKind::WholeRun},
      {Failure(OutcomeKind::PaidNotWritten, true, 429), FailureKind::Temporary},
      {Failure(OutcomeKind::PaidNotWritten, true, 503), FailureKind::Temporary},
      {Failure(OutcomeKind::PaidNotWritten, true, 404), FailureKind::Invalid},
      {Failure(OutcomeKind::PaidNotWritten, true, 400), FailureKind::Invalid},
      // No status: the connection failed or timed out, sent or not.
      {Failure(OutcomeKind::RefusedBeforePaying, true, 0, "Socket Error # 111"), FailureKind::Temporary},
      {Failure(OutcomeKind::PaidNotWritten, true, 0, "Read timed out"), FailureKind::Temporary},
      // The answer came; what followed failed.
      {Failure(OutcomeKind::PaidNotWritten, true, 200, "Impresa cessata (P.IVA 1)"), FailureKind::Row},
      {Failure(OutcomeKind::PaidNotWritten, true, 200, "Il database non risponde (x)"), FailureKind::WholeRun},
      // The archive's connection lost under a row, or already lost when the next one began.
      {Failure(OutcomeKind::PaidNotWritten, true, 200,
               "Fallita scrittura su database\rError reading data from the connection"),
       FailureKind::WholeRun},
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "Cannot perform operation -- DB is not open"),
       FailureKind::WholeRun},
      {Failure(OutcomeKind::PaidNotWritten, true, 200, "Archivio occupato da un'altra importazione (riprovare)"),
       FailureKind::Temporary},
      {Failure(OutcomeKind::InDoubt, true, 200), FailureKind::WholeRun},
      {Failure(OutcomeKind::Stopped, false, 0), FailureKind::WholeRun},
      // Before the registry was asked, only the message tells.
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "P.IVA 12345678901 non valida"), FailureKind::Invalid},
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "Limite giornaliero di richieste al registro raggiunto (5)"),
       FailureKind::WholeRun},
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "Impostazione non valida (X = y)"), FailureKind::WholeRun},
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "Codice soggetto C1 gi\xC3\xA0 presente in archivio"),
       FailureKind::Row},
      // A message that looks like a status is not one when no status came.
      {Failure(OutcomeKind::RefusedBeforePaying, false, 0, "HTTP/1.1 401 Unauthorized"), FailureKind::Row},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(KindOfFailure(test.outcome), test.kind) << test.outcome.line << " " << test.outcome.registryStatus;
  }
}

}  // namespace
}  // namespace korvane
