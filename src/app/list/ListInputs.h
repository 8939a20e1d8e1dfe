#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  // A number already in the archive imported as the company's setting says (--importa-presenti),
  // instead of reported "già presente".
  bool importPresent = false;
  // An answer in the store younger than this many days is used instead of paying
  // (--eta-risposte); none: only the answers this list paid for.
  std::optional<std::int64_t> answerMaxAgeDays;
  std::string storePath;
  std::optional<double> requestPrice;
};

struct ListRequest {
  std::optional<ListInputs> inputs;
  std::string refusal;
};

// What a run over many subjects (a list, a refresh) reads beside its own switches: the session's
// switches, checked as a single run checks them (a -PIVA is refused, naming `modeSwitch`), then
// from the environment the run's options, the store of answers and the price of one request.
struct ManySubjectsInputs {
  SessionInputs session;
  std::string storePath;
  std::optional<double> requestPrice;
};
ManySubjectsInputs ReadManySubjectsInputs(std::vector<std::string> sessionArguments,
                                          const platform::EnvironmentLookup& environment, std::string_view modeSwitch);

// A whole number from lowest to highest, written in digits alone; nothing otherwise.
std::optional<std::int64_t> WholeNumber(std::string_view text, std::int64_t lowest, std::int64_t highest);

// True when the command line asks for a list ("--lista" among the arguments).
bool IsListRequest(const std::vector<std::string>& arguments);

// Reads "--lista FILE [--anteprima] [--rapporto FILE] [--parallele K] [--max-richieste N]
// [--importa-presenti] [--eta-risposte N]" and
// the session's switches (-UTENTE, -DITTA, -TIPOSOGGETTO, -APITOKEN, checked as a single run
// checks them; no -PIVA), then the environment. The first missing or invalid one refuses the run.
ListRequest ReadListRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment);

}  // namespace korvane
