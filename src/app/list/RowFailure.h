#pragma once

#include "app/run/RunOutcome.h"

namespace korvane {

// How a row's failure weighs on the list.
enum class FailureKind {
  Row,        // this row only: refused by a setting, the answer or the archive
  Invalid,    // the number is not one the registry knows
  Temporary,  // worth another try: the registry busy or unreachable, the archive busy
  WholeRun,   // no later row can succeed either: the token, the credit, a limit, the archive lost
};

// The kind of a failed import, read from its typed outcome: its kind, the registry's status and
// whether the registry was asked. Only what has no type of its own (the ledger's and the store's
// refusals, an archive that does not answer or is busy, a VAT number's check digits) is read from
// the message.
FailureKind KindOfFailure(const RunOutcome& outcome);

}  // namespace korvane
