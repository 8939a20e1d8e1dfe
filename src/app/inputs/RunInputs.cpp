#include "app/inputs/RunInputs.h"

#include "app/inputs/Parametri.h"
#include "app/run/RunOutcome.h"

namespace korvane {

RunRequest ReadRunRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment) {
  RunRequest request;
  const RunOutcome outcome = CatchOutcome([&] {
    TParametri Parametri(std::move(arguments), ApiTokenFrom(environment));
    Parametri.ReadFromCmdLine();
    Parametri.Check();
    RunInputs inputs;
    inputs.session.user = Parametri.Utente();
    inputs.session.company = Parametri.Ditta();
    inputs.session.tipoSoggetto = Parametri.TipoSoggetto();
    inputs.session.apiToken = Parametri.ApiToken();
    inputs.subject.vatNumber = Parametri.PIVA();
    inputs.subject.givenCode = Parametri.CodiceSoggetto();
    inputs.session.options = ReadRunOptions(environment);
    request.inputs = std::move(inputs);
    return RunOutcome({}, 0);
  });
  if (!request.inputs) request.refusal = outcome.line;
  return request;
}

}  // namespace korvane
