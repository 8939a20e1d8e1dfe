#include "app/RunOptions.h"

#include "platform/Text.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

std::string ApiTokenFrom(const EnvironmentLookup& environment) {
  const char* token = environment("KORVANE_APITOKEN");
  return token != nullptr ? platform::SanitizeUtf8(token) : std::string();
}

RunOptions ReadRunOptions(const EnvironmentLookup& environment) {
  RunOptions options;
  options.registryEndpoint = registry::ReadRegistryEndpoint(environment);
  options.answerPaths = &AnswerPathsFor(options.registryEndpoint.url);
  return options;
}

}  // namespace korvane
