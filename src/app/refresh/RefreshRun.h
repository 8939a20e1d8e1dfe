#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/inputs/RunInputs.h"
#include "app/refresh/RefreshSubjects.h"
#include "app/run/RunOutcome.h"
#include "platform/Environment.h"

namespace korvane {

// What a refresh was told: the session's switches as a single run reads them, the refresh's own,
// and from the environment the store of answers (KORVANE_ANSWER_STORE) and the price of one request
// (KORVANE_REQUEST_PRICE) for the plan.
struct RefreshInputs {
  SessionInputs session;
  RefreshSelection selection;
  bool preview = false;
  bool apply = false;
  std::string reportPath;  // empty: kDefaultRefreshReport in the working folder
  std::string locksPath;   // --campi-bloccati FILE; empty: no field locked
  std::int64_t answerAgeDays = 30;
  std::optional<std::int64_t> maxRequests;  // --max-richieste N: requests this run may pay
  std::string storePath;
  std::optional<double> requestPrice;
};

struct RefreshRequest {
  std::optional<RefreshInputs> inputs;
  std::string refusal;
};

inline constexpr const char* kDefaultRefreshReport = "aggiornamento.rapporto.csv";

// True when the command line asks for a refresh ("--aggiorna" among the arguments).
bool IsRefreshRequest(const std::vector<std::string>& arguments);

// Reads "--aggiorna (--codici FILE | --tutti | --non-aggiornati-da N) [--anteprima | --applica]
// [--rapporto FILE] [--campi-bloccati FILE] [--eta-risposte N] [--max-richieste N]" and the
// session's switches (-UTENTE, -DITTA, -TIPOSOGGETTO, -APITOKEN, checked as a single run checks
// them; no -PIVA), then the environment. The first missing or invalid one refuses the run.
RefreshRequest ReadRefreshRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment);

// The differences (the default): each chosen subject's row compared with the registry's answer,
// taken from the store when one is no older than --eta-risposte days, otherwise paid for (the
// ledger, the daily limit, --max-richieste) and kept in the store first; each comparison is kept as
// the subject's last, and the report of differences written; nothing is written to the archive.
// --applica replays each subject's last comparison, paying and recomputing nothing: its changes
// written in a transaction of their own, only while the row still holds what the comparison read,
// the values written then the subject's base. --anteprima only gives the plan: nothing sent,
// nothing written. A stop signal is kept until the subject under way is done; the run then ends
// with its report. The line is the summary; exit codes as a list's: 0 every subject settled, 2
// some not (the report says which), 3 stopped early, 1 nothing could start.
RunOutcome RunRefresh(const RefreshRequest& request, const std::string& programFile);

}  // namespace korvane
