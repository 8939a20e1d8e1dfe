#pragma once

// Lists and refreshes under faults: a list of fresh VAT numbers imported with --lista by runs
// stopped at random (SIGKILL, a stop signal, the archive's connection cut or gone silent, the
// registry answering 429 or 5xx once for a number) and started again until the list is settled;
// then, for some, --aggiorna and --applica stopped and resumed the same way over the list's
// subjects after a person corrected one name and emptied one city. Each session has its own
// registry simulator, answer store and ledger; every session's runs go through one slot's relay
// to the list company's archive (Workspace::kListCompany), one run at a time.
//
// Checked for each session: every run ends by itself with 0, 1, 2 or 3 and a line (unless killed);
// a settled list has each number once in the archive, and its report agrees with the archive
// (the code of each imported or present number) and the ledger (a row paid has its request); a
// number is never asked again once the store held an answer for it; a comparison writes nothing;
// the merge keeps the corrected name, fills the empty city, and never empties a value.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "DatabaseRelay.h"
#include "Soak.h"
#include "Workspace.h"

namespace korvane::soak {

struct ListSoakOptions {
  std::uint64_t seed = 1;
  // No session begins after this; the runs of the one under way are stopped soon after it.
  std::chrono::steady_clock::time_point end;
  std::string program;
  std::string simulator;
  int slot = kListSlot;  // the relay and program folder the sessions use (never a single run's)
  bool verbose = false;
};

struct ListSoakResult {
  int sessions = 0;
  int settled = 0;  // lists run to their end
  int refreshes = 0;
  int runs = 0;
  int faults = 0;  // runs with a fault drawn (the registry's own faults aside)
  std::vector<std::string> violations;
};

ListSoakResult RunListSessions(const ListSoakOptions& options, Workspace& workspace, DatabaseRelay& relay);

}  // namespace korvane::soak
