#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/inputs/RunInputs.h"
#include "platform/Environment.h"

namespace korvane {

// What a list run was told: the session's switches as a single run reads them, the list's own
// switches, and from the environment the store of answers (KORVANE_ANSWER_STORE) and the price of
// one request in euro (KORVANE_REQUEST_PRICE) for the plan.
struct ListInputs {
  SessionInputs session;
  std::string listPath;
  std::string reportPath;  // empty: beside the list
  bool preview = false;
  int parallel = 4;
  std::optional<std::int64_t> maxRequests;
  std::string storePath;
  std::optional<double> requestPrice;
};

struct ListRequest {
  std::optional<ListInputs> inputs;
  std::string refusal;
};

// True when the command line asks for a list ("--lista" among the arguments).
bool IsListRequest(const std::vector<std::string>& arguments);

// Reads "--lista FILE [--anteprima] [--rapporto FILE] [--parallele K] [--max-richieste N]" and
// the session's switches (-UTENTE, -DITTA, -TIPOSOGGETTO, -APITOKEN, checked as a single run
// checks them; no -PIVA), then the environment. The first missing or invalid one refuses the run.
ListRequest ReadListRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment);

}  // namespace korvane
