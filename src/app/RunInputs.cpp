#include "app/RunInputs.h"

namespace korvane {

RunInputs ReadRunInputs(const TParametri& parametri, const EnvironmentLookup& environment) {
  RunInputs inputs;
  inputs.user = parametri.Utente();
  inputs.company = parametri.Ditta();
  inputs.tipoSoggetto = parametri.TipoSoggetto();
  inputs.kind = &SubjectKindOf(inputs.tipoSoggetto);
  inputs.vatNumber = parametri.PIVA();
  inputs.apiToken = parametri.ApiToken();
  inputs.givenCode = parametri.CodiceSoggetto();
  inputs.options = ReadRunOptions(environment);
  return inputs;
}

}  // namespace korvane
