#pragma once

#include <memory>
#include <string>

#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/PreparedChannel.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

// Asks the registry at `endpoint` for the company with this VAT number, with the bearer token,
// and returns the body of the answer as UTF-8 text. The request goes on `prepared` when it is
// given (its failure is raised here), else on a connection opened now. Creates the client and
// its TLS handler into the caller's slots; the caller releases them, the client first.
std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken,
                              const registry::RegistryEndpoint& endpoint, registry::PreparedChannel* prepared,
                              std::unique_ptr<TIdHTTP>& ClientHTTP,
                              std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>& GestoreSSL);

}  // namespace korvane

namespace korvane::registry {

// Starts preparing the connection that InterrogaRegistro will send its request on, with the same
// settings. Nothing when the address is not one a connection can be opened to (the request then
// reports it) or no thread can be had.
std::unique_ptr<PreparedChannel> PrepareRegistryChannel(const RegistryEndpoint& endpoint) noexcept;

}  // namespace korvane::registry
