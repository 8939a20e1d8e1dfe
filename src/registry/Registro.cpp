#include "registry/Registro.h"

#include <optional>

#include "platform/Exception.h"

namespace korvane {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

// The TLS handler as the registry request uses it.
void ConfigureHandler(TIdSSLIOHandlerSocketOpenSSL& handler, const registry::RegistryEndpoint& endpoint) {
  handler.SSLOptions.SetSSLVersions(kAllSslVersions);
  handler.ProxyServer = endpoint.proxy;
}

}  // namespace

std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken,
                              const registry::RegistryEndpoint& endpoint, registry::PreparedChannel* prepared,
                              std::unique_ptr<TIdHTTP>& ClientHTTP,
                              std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>& GestoreSSL) {
  ClientHTTP = std::make_unique<TIdHTTP>();
  GestoreSSL = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  ConfigureHandler(*GestoreSSL, endpoint);
  GestoreSSL->Prepared = prepared;
  ClientHTTP->IOHandler = GestoreSSL.get();
  ClientHTTP->Request.Clear();
  ClientHTTP->Request.BasicAuthentication = false;
  ClientHTTP->Request.Method = "GET";
  ClientHTTP->Request.CustomHeaders.push_back("Accept: application/json");
  ClientHTTP->Request.CustomHeaders.push_back("Authorization: Bearer " + ApiToken);
  ClientHTTP->Request.Accept = "application/json";
  ClientHTTP->Request.UserAgent = kUserAgent;
  return ClientHTTP->Get(endpoint.url + PIVA);
}

std::unique_ptr<registry::PreparedChannel> registry::PrepareRegistryChannel(const RegistryEndpoint& endpoint) noexcept {
  try {
    const std::optional<ChannelTarget> target = ChannelTargetOf(endpoint.url);
    if (!target) return nullptr;
    TIdSSLIOHandlerSocketOpenSSL handler;
    ConfigureHandler(handler, endpoint);
    return PreparedChannel::Start(*target, handler.Settings());
  } catch (...) {
    return nullptr;
  }
}

}  // namespace korvane
