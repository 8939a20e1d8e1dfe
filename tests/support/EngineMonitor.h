#pragma once

// What the engine says other connections are doing, read from its monitoring tables: lets a
// test wait for the event it needs (another run's statement waiting on a key or a lock) instead
// of sleeping and hoping the other side is there by then.

#include <chrono>
#include <string_view>

#include "db/IBDatabase.h"

namespace korvane::testing {

// Waits until another connection to the database of `database` is running a statement whose
// text starts with `textStart` (as SYSDBA, every connection is seen). A statement that runs
// for more than an instant is one that waits. False when none shows within `limit`.
bool WaitForStatementOfAnother(TIBDatabase& database, std::string_view textStart,
                               std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace korvane::testing
