#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/DesktopProtocol.h"

// The body of one import request: the desktop's command-line arguments, each as UTF-8 bytes
// followed by one NUL byte, and the check that they are what an import takes and nothing else.
namespace korvane::server {

using protocol::kMaxArguments;
using protocol::kMaxBodyBytes;

struct ImportRequest {
  std::vector<std::string> arguments;  // as received, for the importer's command line
  // What the access log names (empty when not given).
  std::string utente;
  std::string ditta;
  std::string piva;
};

// The arguments of a body. Raises Refusal: 413 over kMaxBodyBytes; 400 for an empty body, one that
// does not end with NUL, an empty argument, more than kMaxArguments.
std::vector<std::string> SplitArguments(std::string_view body);

// Accepts exactly an import's switches, each followed by a value (-UTENTE -DITTA -TIPOSOGGETTO
// -PIVA -CODICESOGGETTO -LINEA, names in any letter case), or one of --help -h -? --version alone,
// or nothing (the importer then says that no switch was given). Every argument is judged as the
// importer judges it, whatever its place: an argument that the importer would read as -APITOKEN
// (the token is the server's) or as a switch where a value is due is refused, so no value can
// carry a switch past this check. Raises Refusal 400.
ImportRequest CheckArguments(std::vector<std::string> arguments);

// Both, for one body.
ImportRequest ReadImportRequest(std::string_view body);

}  // namespace korvane::server
