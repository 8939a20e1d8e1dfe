// Arbitrary bytes as the body of an import request: the service either refuses them or passes on
// arguments from which the importer's own command-line reader takes no -APITOKEN and nothing but
// the switches a desktop may give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/inputs/Parametri.h"
#include "platform/Exception.h"
#include "platform/Utf8.h"
#include "protocol/DesktopProtocol.h"
#include "server/ImportRequest.h"
#include "server/Refusal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  korvane::server::ImportRequest request;
  try {
    request = korvane::server::ReadImportRequest(body);
  } catch (const korvane::server::Refusal& refusal) {
    if (refusal.Status() != 400 && refusal.Status() != 413) std::abort();
    return 0;
  }
  if (size > korvane::server::kMaxBodyBytes || request.arguments.size() > korvane::server::kMaxArguments) std::abort();
  if (korvane::protocol::ArgumentsBody(request.arguments) != body) std::abort();

  // The importer's reader, given the arguments as its main gives them.
  std::vector<std::string> arguments;
  for (const std::string& argument : request.arguments) arguments.push_back(korvane::platform::SanitizeUtf8(argument));
  korvane::TParametri parametri(arguments, "");
  try {
    parametri.ReadFromCmdLine();
  } catch (const korvane::Exception&) {
    return 0;
  }
  if (!parametri.ApiToken().empty()) std::abort();
  return 0;
}
