#pragma once

#include <string>

#include "app/list/ListInputs.h"
#include "app/run/RunOutcome.h"
#include "platform/StopSignals.h"

namespace korvane {

// The exit codes of a list run, for cron and the Windows scheduler.
inline constexpr int kListAllSettled = 0;       // every row imported, already present or a duplicate
inline constexpr int kListSomeNotImported = 2;  // some rows not imported: the report says which
inline constexpr int kListStoppedEarly = 3;     // the run stopped before the end (or the plan would)
inline constexpr int kListCouldNotStart = 1;    // usage, settings, files, databases

// Imports every number of the list on one session per kind of subject, one row at a time in the
// file's order, each committed on its own as a single run commits; rows already settled by an
// earlier run of the same list are not asked again. With `preview` asks nothing and writes
// nothing: each row's plan on its own line, then the totals. Returns the summary line and the
// exit code; progress goes to standard error when it is a terminal.
// A stop signal is kept on `gate` from the start: the rows under way are settled, every row not
// reached is "non tentata", the report written, exit code 3. The gate is finishing on return.
RunOutcome RunList(const ListRequest& request, const std::string& programFile, platform::RunGate& gate);

}  // namespace korvane
