#include "app/RunOptions.h"

#include "platform/Text.h"
#include "registry/Registro.h"

namespace korvane {

std::string ApiTokenFrom(const EnvironmentLookup& environment) {
  const char* token = environment("KORVANE_APITOKEN");
  return token != nullptr ? platform::SanitizeUtf8(token) : std::string();
}

RunOptions ReadRunOptions(const EnvironmentLookup& environment) {
  RunOptions options;
  options.registryUrl = registry::RegistryUrl(environment("KORVANE_REGISTRY_URL"));
  options.answerPaths = &PercorsiRispostaPer(options.registryUrl);
  return options;
}

}  // namespace korvane
