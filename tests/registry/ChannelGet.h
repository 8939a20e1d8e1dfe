#pragma once

#include <functional>
#include <string>

#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "support/ErrorOf.h"

namespace korvane::testing {

// A GET through a fresh client and TLS handler with every version allowed, as the run sets it
// up; `configure` may change the handler first. The body, or "error: " and the message.
inline std::string GetThroughChannel(const std::string& url,
                                     const std::function<void(TIdSSLIOHandlerSocketOpenSSL&)>& configure = {}) {
  TIdSSLIOHandlerSocketOpenSSL handler;
  handler.SSLOptions.SetSSLVersions(kAllSslVersions);
  if (configure) configure(handler);
  TIdHTTP client;
  client.IOHandler = &handler;
  return OutcomeOf([&] { return client.Get(url); });
}

}  // namespace korvane::testing
