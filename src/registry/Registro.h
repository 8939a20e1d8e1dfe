#pragma once

#include <memory>
#include <string>

#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/PreparedChannel.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

// The registry request's HTTP client and the TLS handler under it, created and released together:
// the client goes first, since releasing it closes the handler's connection.
class RegistryClient {
 public:
  RegistryClient();
  RegistryClient(const RegistryClient&) = delete;
  RegistryClient& operator=(const RegistryClient&) = delete;

  // Asks the registry at `endpoint` for the company with this VAT number, with the bearer token,
  // and returns the body of the answer as UTF-8 text. The request goes on `prepared` when it is
  // given (its failure is raised here), else on a connection opened now.
  std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken,
                                const registry::RegistryEndpoint& endpoint, registry::PreparedChannel* prepared);

 private:
  TIdSSLIOHandlerSocketOpenSSL GestoreSSL;
  TIdHTTP ClientHTTP;
};

}  // namespace korvane

namespace korvane::registry {

// What the registry's connections are opened with, the prepared one and the client's alike.
ChannelSettings RegistryChannelSettings(const RegistryEndpoint& endpoint);

// Starts preparing the connection that InterrogaRegistro will send its request on, with the same
// settings. Nothing when the address is not one a connection can be opened to (the request then
// reports it) or no thread can be had.
std::unique_ptr<PreparedChannel> PrepareRegistryChannel(const RegistryEndpoint& endpoint) noexcept;

}  // namespace korvane::registry
