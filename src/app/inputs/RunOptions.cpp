#include "app/inputs/RunOptions.h"

#include <cstdint>
#include <optional>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "platform/Utf8.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

namespace {

constexpr const char* kDatabaseUserVariable = "KORVANE_DB_USER";
constexpr const char* kDatabasePasswordVariable = "KORVANE_DB_PASSWORD";
constexpr const char* kDatabaseTimeoutVariable = "KORVANE_DB_TIMEOUT";
constexpr std::int32_t kLongestDatabaseTimeout = 3600;

}  // namespace

std::string ApiTokenFrom(const platform::EnvironmentLookup& environment) {
  const char* token = environment("KORVANE_APITOKEN");
  return token != nullptr ? platform::SanitizeUtf8(token) : std::string();
}

RunOptions ReadRunOptions(const platform::EnvironmentLookup& environment) {
  RunOptions options;
  options.registryEndpoint = registry::ReadRegistryEndpoint(environment);
  options.answerPaths = &AnswerPathsFor(options.registryEndpoint.Address());
  // Taken as the bytes they are: a password is compared byte for byte by the server.
  if (const char* user = environment(kDatabaseUserVariable); user != nullptr && *user != '\0') {
    options.databaseLogin.user = user;
    options.databaseUserSource = kDatabaseUserVariable;
  }
  if (const char* password = environment(kDatabasePasswordVariable); password != nullptr && *password != '\0') {
    options.databaseLogin.password = password;
    options.databasePasswordSource = kDatabasePasswordVariable;
  }
  if (const char* timeout = environment(kDatabaseTimeoutVariable); timeout != nullptr) {
    const std::optional<std::int32_t> seconds = platform::StrToInt32(platform::TrimControl(timeout));
    if (!seconds || *seconds < 1 || *seconds > kLongestDatabaseTimeout) {
      throw Exception(std::string("Tempo di attesa del database non valido (") + kDatabaseTimeoutVariable + ")");
    }
    options.databaseTimeout = std::chrono::seconds(*seconds);
  }
  options.ledger = ReadLedgerOptions(environment("KORVANE_LEDGER"), environment("KORVANE_DAILY_LIMIT"));
  if (const char* store = environment("KORVANE_ANSWER_STORE"); store != nullptr) options.answerStore = store;
  return options;
}

}  // namespace korvane
