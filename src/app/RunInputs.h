#pragma once

#include <cstdint>
#include <string>

#include "app/Parametri.h"
#include "app/RunOptions.h"
#include "app/SubjectKind.h"
#include "config/CompanySettings.h"
#include "config/EInvoiceColumns.h"

namespace korvane {

// The company's own rules for the run's kind of subject, read once from the archive before the
// registry is asked.
struct CompanyRules {
  config::CompanySettings settings;
  config::EInvoiceColumns eInvoiceColumns;
};

// What one run was told, read once from the checked command line and the environment; every step
// takes its inputs from here.
struct RunInputs {
  std::int32_t user = 0;
  std::string company;
  TTipoSoggetto tipoSoggetto = TTipoSoggetto::tsCliente;
  const SubjectKind* kind = nullptr;
  std::string vatNumber;
  std::string apiToken;
  // -CODICESOGGETTO; empty when the command line gives none.
  std::string givenCode;
  RunOptions options;
  // Read once the archive is open.
  CompanyRules rules;
};

// The checked command line's values, then what the environment adds (ReadRunOptions' checks).
RunInputs ReadRunInputs(const TParametri& parametri, const EnvironmentLookup& environment);

}  // namespace korvane
