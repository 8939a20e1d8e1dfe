#pragma once

#include <memory>
#include <string>

#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"

namespace korvane {

// Asks the registry at `registryUrl` (as RegistryUrl gives it) for the company with this VAT
// number, with the bearer token, and returns the body of the answer as UTF-8 text. Creates the
// client and its TLS handler into the caller's slots; the caller releases them, the client first.
std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken, const std::string& registryUrl,
                              std::unique_ptr<TIdHTTP>& ClientHTTP,
                              std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>& GestoreSSL);

}  // namespace korvane

namespace korvane::registry {

// The business registry's address when KORVANE_REGISTRY_URL does not replace it.
inline constexpr const char* kDefaultRegistryUrl = "https://imprese.openapi.it/base/";

// The address in force: `configured` (the value of KORVANE_REGISTRY_URL) when set and not empty,
// else the default; the VAT number is appended to it. A path that does not end in "/" gets one
// (unless the address has a query or a fragment), so a path prefix such as "/v1/IT-start" is
// kept whole. Raises "Indirizzo del registro non valido (KORVANE_REGISTRY_URL)" when the address
// holds a control character or a blank, before anything is sent.
std::string RegistryUrl(const char* configured);

}  // namespace korvane::registry
