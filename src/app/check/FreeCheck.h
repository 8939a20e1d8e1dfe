#pragma once

#include <string>
#include <vector>

#include "platform/Environment.h"

namespace korvane {

// What the free check found: its lines, ended by LF, and the exit code (0 when all passed).
struct FreeCheckResult {
  std::string text;
  int exitCode = 1;
};

// korvane --controlla -UTENTE <u> -DITTA <d> [-TIPOSOGGETTO C|F] [-PIVA <vat>]: every step a run
// takes before the paid request, each reported on a line of its own, "OK <what>" or "ERRORE
// <what>: <the message a run would print>". The users database and the user, the company's
// archive, the next code and the company's settings, the INSERT right, the write lock when the
// company uses it, the way to the registry (a TLS connection opened, verified and closed without a
// request byte), the token and the ledger; with -PIVA its form, its check digits when the company
// checks them, and whether the archive holds it. A check that needs one that failed is not made.
// Writes nothing, and never sends a request to the registry. `arguments` follow "--controlla".
FreeCheckResult RunFreeCheck(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment,
                             const std::string& programFile);

}  // namespace korvane
