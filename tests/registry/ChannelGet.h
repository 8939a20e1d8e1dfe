#pragma once

#include <functional>
#include <string>

#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/Registro.h"
#include "support/ErrorOf.h"

namespace korvane::testing {

// A GET through a fresh client and TLS handler with every version allowed, as the run sets it
// up; `configure` may change the handler first. The body, or "error: " and the message.
inline std::string GetThroughChannel(const std::string& url,
                                     const std::function<void(TIdSSLIOHandlerSocketOpenSSL&)>& configure = {}) {
  TIdSSLIOHandlerSocketOpenSSL handler;
  handler.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
  if (configure) configure(handler);
  TIdHTTP client;
  client.IOHandler = &handler;
  return OutcomeOf([&] { return client.Get(url); });
}

// The registry request as the run makes it: the channel prepared first, then the request on it.
// The body, or "error: " and the message.
inline std::string AskRegistry(const registry::RegistryEndpoint& endpoint, const std::string& piva,
                               const std::string& token) {
  registry::RegistryClient client(endpoint);
  return OutcomeOf([&] { return client.InterrogaRegistro(piva, token); });
}

}  // namespace korvane::testing
