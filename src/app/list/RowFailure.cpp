#include "app/list/RowFailure.h"

#include <string_view>

namespace korvane {

namespace {

// What is known of a failure only by its message.
FailureKind KindOfMessage(const std::string& message) {
  const auto has = [&](std::string_view part) { return message.find(part) != std::string::npos; };
  // The ledger (its daily limit, a file that cannot be written), the store, an archive that does
  // not answer, a company setting that cannot be used: every later row would fail the same way.
  if (has("Limite giornaliero") || has("Giornale delle richieste") || has("Il database non risponde") ||
      has("Archivio delle risposte non utilizzabile") || has("Impostazione non valida")) {
    return FailureKind::WholeRun;
  }
  // The archive's connection lost (the client library's words, or ours for a call on a connection
  // already closed): the archive is gone for every later row too, and the rows a resume would
  // never ask again must not be settled by it.
  if (has("Error reading data from the connection") || has("Error writing data to the connection") ||
      has("Connection lost to database") || has("Unable to complete network request") || has("DB is not open")) {
    return FailureKind::WholeRun;
  }
  if (has("Archivio occupato")) return FailureKind::Temporary;
  if (message.starts_with("P.IVA ") && message.ends_with(" non valida")) return FailureKind::Invalid;
  return FailureKind::Row;
}

FailureKind KindOfStatus(int status) {
  // The token refused or the credit over: the same for every number.
  if (status == 401 || status == 402 || status == 403) return FailureKind::WholeRun;
  if (status == 429 || (status >= 500 && status <= 599)) return FailureKind::Temporary;
  if (status == 400 || status == 404 || status == 406) return FailureKind::Invalid;
  return FailureKind::Row;
}

}  // namespace

FailureKind KindOfFailure(const RunOutcome& outcome) {
  switch (outcome.kind) {
    case OutcomeKind::Stopped:
    case OutcomeKind::InDoubt: return FailureKind::WholeRun;
    case OutcomeKind::Committed:
    case OutcomeKind::Reused: return FailureKind::Row;
    case OutcomeKind::RefusedBeforePaying:
    case OutcomeKind::PaidNotWritten: break;
  }
  if (outcome.registryAsked) {
    // No status at all: the connection failed or the answer did not come in time.
    if (outcome.registryStatus == 0) return FailureKind::Temporary;
    if (outcome.registryStatus < 200 || outcome.registryStatus > 299) return KindOfStatus(outcome.registryStatus);
  }
  // Refused before asking, or the answer came and what followed it failed.
  return KindOfMessage(outcome.line);
}

}  // namespace korvane
