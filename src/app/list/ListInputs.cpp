#include "app/list/ListInputs.h"

#include <algorithm>
#include <charconv>

#include "app/inputs/Parametri.h"
#include "app/run/RunOutcome.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

// A price in euro, "0,05" or "0.05".
std::optional<double> Price(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || value < 0) return {};
  return value;
}

}  // namespace

std::optional<std::int64_t> WholeNumber(std::string_view text, std::int64_t lowest, std::int64_t highest) {
  std::int64_t value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || value < lowest || value > highest) return {};
  return value;
}

ManySubjectsInputs ReadManySubjectsInputs(std::vector<std::string> sessionArguments,
                                          const platform::EnvironmentLookup& environment, std::string_view modeSwitch) {
  ManySubjectsInputs inputs;
  TParametri Parametri(std::move(sessionArguments), ApiTokenFrom(environment));
  Parametri.ReadFromCmdLine();
  Parametri.CheckSession();
  Parametri.CheckApiToken();
  if (!Parametri.PIVA().Cleaned().empty()) throw Exception("-PIVA non ammesso con " + std::string(modeSwitch));
  inputs.session.user = Parametri.Utente();
  inputs.session.company = Parametri.Ditta();
  inputs.session.tipoSoggetto = Parametri.TipoSoggetto();
  inputs.session.apiToken = Parametri.ApiToken();
  inputs.session.options = ReadRunOptions(environment);
  const char* store = environment("KORVANE_ANSWER_STORE");
  inputs.storePath = store && *store ? store : store::kDefaultStorePath;
  if (const char* price = environment("KORVANE_REQUEST_PRICE"); price && *price) {
    inputs.requestPrice = Price(price);
    if (!inputs.requestPrice) throw Exception("Prezzo per richiesta non valido (KORVANE_REQUEST_PRICE)");
  }
  return inputs;
}

bool IsListRequest(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), "--lista") != arguments.end();
}

ListRequest ReadListRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment) {
  ListRequest request;
  const RunOutcome outcome = CatchOutcome([&] {
    ListInputs inputs;
    std::vector<std::string> sessionArguments;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const std::string& argument = arguments[i];
      const auto value = [&](const char* name) {
        if (i + 1 >= arguments.size()) throw Exception(std::string("Valore mancante per ") + name);
        return arguments[++i];
      };
      if (argument == "--lista") {
        inputs.listPath = value("--lista");
      } else if (argument == "--rapporto") {
        inputs.reportPath = value("--rapporto");
      } else if (argument == "--anteprima") {
        inputs.preview = true;
      } else if (argument == "--parallele") {
        const auto parallel = WholeNumber(value("--parallele"), 1, 16);
        if (!parallel) throw Exception("Valore non valido per --parallele (da 1 a 16)");
        inputs.parallel = static_cast<int>(*parallel);
      } else if (argument == "--max-richieste") {
        inputs.maxRequests = WholeNumber(value("--max-richieste"), 0, INT64_MAX);
        if (!inputs.maxRequests) throw Exception("Valore non valido per --max-richieste");
      } else if (argument == "--importa-presenti") {
        inputs.importPresent = true;
      } else if (argument == "--eta-risposte") {
        inputs.answerMaxAgeDays = WholeNumber(value("--eta-risposte"), 0, 100000);
        if (!inputs.answerMaxAgeDays) throw Exception("Valore non valido per --eta-risposte (giorni)");
      } else if (argument.starts_with("--")) {
        throw Exception("Opzione non riconosciuta (" + argument + ")");
      } else {
        sessionArguments.push_back(argument);
      }
    }
    if (inputs.listPath.empty()) throw Exception("File della lista mancante (--lista)");
    ManySubjectsInputs common = ReadManySubjectsInputs(std::move(sessionArguments), environment, "--lista");
    inputs.session = std::move(common.session);
    inputs.storePath = std::move(common.storePath);
    inputs.requestPrice = common.requestPrice;
    request.inputs = std::move(inputs);
    return RunOutcome{{}, 0};
  });
  if (!request.inputs) request.refusal = outcome.line;
  return request;
}

}  // namespace korvane
