#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/inputs/RunOptions.h"
#include "app/subject/SubjectKind.h"
#include "app/subject/VatNumber.h"
#include "platform/Environment.h"

namespace korvane {

// What a session was told: whom it works for, the company and the kind of subject, the token,
// and how the registry and the databases are reached.
struct SessionInputs {
  std::int32_t user = 0;
  std::string company;
  TTipoSoggetto tipoSoggetto = TTipoSoggetto::tsCliente;
  std::string apiToken;
  RunOptions options;
};

// One subject to import on a session.
struct SubjectInputs {
  VatNumber vatNumber;
  // -CODICESOGGETTO; empty when the command line gives none.
  std::string givenCode;
};

// What one run was told: a session and the one subject it imports.
struct RunInputs {
  SessionInputs session;
  SubjectInputs subject;
};

// What a run was told, or the message that refuses it before any work.
struct RunRequest {
  std::optional<RunInputs> inputs;
  std::string refusal;
};

// Reads and checks the command line (the process arguments after the program name, UTF-8) with
// TParametri, its first missing or invalid switch refusing the run with its message; then what
// the environment adds (ReadRunOptions, with its own messages). The only reader of either: every
// step below takes its inputs from the value returned.
RunRequest ReadRunRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment);

}  // namespace korvane
