#include "registry/Registro.h"

#include <optional>

#include "platform/Exception.h"

namespace korvane {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

}  // namespace

RegistryClient::RegistryClient() { ClientHTTP.IOHandler = &GestoreSSL; }

std::string RegistryClient::InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken,
                                              const registry::RegistryEndpoint& endpoint,
                                              registry::PreparedChannel* prepared) {
  const registry::ChannelSettings settings = registry::RegistryChannelSettings(endpoint);
  GestoreSSL.SSLOptions = settings.sslOptions;
  GestoreSSL.ProxyServer = settings.proxy;
  GestoreSSL.Prepared = prepared;
  ClientHTTP.Request.Clear();
  ClientHTTP.Request.BasicAuthentication = false;
  ClientHTTP.Request.Method = "GET";
  ClientHTTP.Request.CustomHeaders.push_back("Accept: application/json");
  ClientHTTP.Request.CustomHeaders.push_back("Authorization: Bearer " + ApiToken);
  ClientHTTP.Request.Accept = "application/json";
  ClientHTTP.Request.UserAgent = kUserAgent;
  return ClientHTTP.Get(endpoint.url + PIVA);
}

registry::ChannelSettings registry::RegistryChannelSettings(const RegistryEndpoint& endpoint) {
  ChannelSettings settings;
  settings.sslOptions.SetSSLVersions(kAllSslVersions);
  settings.proxy = endpoint.proxy;
  return settings;
}

std::unique_ptr<registry::PreparedChannel> registry::PrepareRegistryChannel(const RegistryEndpoint& endpoint) noexcept {
  try {
    const std::optional<ChannelTarget> target = ChannelTargetOf(endpoint.url);
    if (!target) return nullptr;
    return PreparedChannel::Start(*target, RegistryChannelSettings(endpoint));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace korvane
