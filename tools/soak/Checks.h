#pragma once

// What every run must have done, whatever its fault, checked from its exit, its output, the
// archives' rows and the registry's log.

#include <string>
#include <vector>

#include "Soak.h"

namespace korvane::soak {

struct Violation {
  int run = -1;                // -1: the archives as a whole
  const char* invariant = "";  // the name of the invariant it breaks
  std::string what;
};

struct CheckOutcome {
  std::vector<Violation> violations;
  // Runs ended by a stop signal that came before the program had set up its signals (the
  // loader's instants before main): no line is promised there.
  int earlyStops = 0;
  // Engine mutexes left held by runs that SIGKILL ended: no program can guard against that (the
  // engine's mutexes are not robust), so they are noted, not counted as violations.
  std::vector<std::string> locksLeftByKills;
};

CheckOutcome CheckSoak(const SoakResult& result);

// The run index a company name tags ("Soak run 12" gives 12); -1 for any other name.
int TagOf(const std::string& ragsoc);

// Bytes made readable: CR, LF and other control bytes escaped, in double quotes.
std::string Quote(const std::string& bytes);

}  // namespace korvane::soak
