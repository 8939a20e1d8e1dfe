#pragma once

// The soak's invariants, each one function, in tables: the archives as a whole, then each run
// (what its rows say whatever its end, then how it ended and what it said). CheckSoak runs them.

#include <span>
#include <string>
#include <vector>

#include "Checks.h"

namespace korvane::soak {

// What the checks of one run know: its plan and end, the rows that carry its tag, and what its
// company's settings decide before the registry is asked.
struct RunFacts {
  const SoakResult& result;
  const RunRecord& record;
  const RunPlan& plan;
  const Company& company;
  ExistingRule rule;
  const PoolNumber& number;
  FaultKind fault;
  std::vector<const StoredRow*> own;      // wherever they are
  std::vector<const StoredRow*> ownHere;  // those in its own company's table
  bool invalidNumber;                     // its check digit is wrong, with ControlloPartitaIva = Si
  bool alreadyStored;                     // stored when it began, with PartitaIvaPresente... on
  std::string line;                       // its message without the final CR LF, when read whole
};

// Where a check puts what it finds wrong with one run.
struct Finding {
  CheckOutcome& outcome;
  const char* invariant;
  int run;
  void Fail(const std::string& what) const { outcome.violations.push_back({run, invariant, what}); }
};

// Which runs an invariant judges.
enum class Judges {
  EveryRun,  // whatever its end: from the rows, the registry's log and the server
  OwnEnd,    // the runs that ended by themselves: neither cut short by the soak nor killed by their fault
  Exited,    // of those, the ones that ended with an exit code
  Output,    // of those, the ones whose standard output was read whole
};

struct RunInvariant {
  const char* name;
  Judges judges;
  void (*check)(const RunFacts&, const Finding&);
};

struct ArchiveInvariant {
  const char* name;
  void (*check)(const SoakResult&, const Finding&);
};

// The archives as a whole, and what the rows say of each run (RowInvariants.cpp).
std::span<const ArchiveInvariant> ArchiveInvariants();
std::span<const RunInvariant> RowInvariants();
// How each run ended and what it said (EndInvariants.cpp).
std::span<const RunInvariant> EndInvariants();

// What the program says when a database call has not answered within its bound, and when the
// outcome of its commit could not be known.
inline constexpr const char* kNoAnswerMessage = "Il database non risponde";
inline constexpr const char* kUnverifiableMessage = "Esito della scrittura non verificabile";
// Added to a bound the program promises, for a loaded machine.
inline constexpr int kMarginSeconds = 2;

// Whether another run's connection to the same archive had gone silent while this run ran: the
// server holds that run's transaction (its locks, its uncommitted row) until it has ended.
bool SilentNeighbour(const RunFacts& run);
// A run's end on the soak's clock.
Clock::time_point EndOf(const RunRecord& record);

bool StartsWith(const std::string& text, const std::string& prefix);
// "CLIENTI of company 01".
std::string Where(int company, int table);
// The code named by "... (codice <code>)" at the end of a message.
std::string NamedCode(const std::string& line);
const StoredRow* FindRow(const std::vector<StoredRow>& rows, int company, int table, const std::string& codice);

}  // namespace korvane::soak
