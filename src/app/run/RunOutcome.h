#pragma once

#include <exception>
#include <new>
#include <string>

#include "platform/Exception.h"

namespace korvane {

// What became of one subject, for a caller that goes on to the next one (or not) by it.
enum class OutcomeKind {
  Committed,            // the row was written: its code, exit code 0
  Reused,               // a stored subject with the VAT number answers: its code, exit code 0
  RefusedBeforePaying,  // ended before any request left: nothing paid, nothing written
  PaidNotWritten,       // a request left (it may be paid for) and nothing was written
  InDoubt,              // the commit's outcome could not be learnt: the row may be there
  Stopped,              // a stop signal ended the session before this subject began
};

// How an import ended: the one line to print (the new code, or the message of the error that
// ended it) and the exit code, 0 when the record was committed (or a stored one answers), else 1;
// then what a caller that imports many subjects reads instead of the line.
struct RunOutcome {
  RunOutcome() = default;
  RunOutcome(std::string line, int exitCode, OutcomeKind kind = OutcomeKind::RefusedBeforePaying)
      : line(std::move(line)), exitCode(exitCode), kind(kind) {}

  std::string line;
  int exitCode = 1;
  OutcomeKind kind = OutcomeKind::RefusedBeforePaying;
  // The code written, or the stored subject's code that answers; empty otherwise.
  std::string code;
  // True once the registry was asked for this subject (whether or not the request could leave).
  bool registryAsked = false;
  // The status of the registry's answer to this subject's request; 0 when none arrived.
  int registryStatus = 0;
  // True once the request's bytes began to leave: from there it may be paid for.
  bool requestSent = false;
  // The body of the registry's answer to this subject's request; empty when none came.
  std::string answerBody;
  // The ledger's key of this subject's request; empty without a ledger or a request.
  std::string ledgerKey;
};

// Runs `step` and returns its outcome; an error it raises becomes the failed outcome with the
// error's message ("Out of memory" when memory ran out).
template <class Step>
RunOutcome CatchOutcome(Step&& step) {
  try {
    return step();
  } catch (const Exception& error) {
    return {error.Message(), 1};
  } catch (const std::bad_alloc&) {
    return {"Out of memory", 1};
  } catch (const std::exception& error) {
    return {error.what(), 1};
  }
}

}  // namespace korvane
