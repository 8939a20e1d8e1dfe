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
// [--rapporto FILE] [--campi-bloccati FILE] [--eta-risposte N]" and the session's switches
// (-UTENTE, -DITTA, -TIPOSOGGETTO, checked as a single run checks them; no -PIVA), then the
// environment. The first missing or invalid one refuses the run.
RefreshRequest ReadRefreshRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment);

// Compares the chosen subjects with the registry's answers kept in the store (no older than
// --eta-risposte days) and writes the report of differences; nothing is paid: a subject without
// such an answer is reported "da richiedere". With --applica the changes the merge allows are
// written, each subject in its own transaction and only while its row still holds what the
// comparison read, and the values written become the subject's base in the store. With
// --anteprima only the plan is given: nothing is sent, nothing written. Exit codes as a list's.
RunOutcome RunRefresh(const RefreshRequest& request, const std::string& programFile);

}  // namespace korvane
