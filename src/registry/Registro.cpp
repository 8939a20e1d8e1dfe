#include "registry/Registro.h"

#include <utility>

#include "platform/Exception.h"
#include "registry/TlsConnection.h"

namespace korvane::registry {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

// What the registry's connections are opened with, the prepared one and the client's alike.
ChannelSettings SettingsFor(const RegistryEndpoint& endpoint) {
  ChannelSettings settings;
  settings.sslOptions.SetSSLVersions(kAllSslVersions);
  settings.proxy = endpoint.proxy;
  return settings;
}

}  // namespace

RegistryClient::RegistryClient(RegistryEndpoint endpoint, bool prepareChannel)
    : endpoint_(std::move(endpoint)), target_(ChannelTargetOf(endpoint_.url)), settings_(SettingsFor(endpoint_)) {
  GestoreSSL.SSLOptions = settings_.sslOptions;
  GestoreSSL.proxyServer = settings_.proxy;
  ClientHTTP.IOHandler = &GestoreSSL;
  if (prepareChannel && target_) {
    prepared_ = PreparedChannel::Start(*target_, settings_);
    GestoreSSL.prepared = prepared_.get();
  }
}

RegistryClient::~RegistryClient() = default;

void RegistryClient::ProbeChannel() {
  if (!target_) throw Exception("Indirizzo del registro non valido (KORVANE_REGISTRY_URL)");
  std::unique_ptr<PreparedChannel> channel = std::move(prepared_);
  GestoreSSL.prepared = nullptr;
  if (!channel) channel = PreparedChannel::Start(*target_, settings_);
  if (!channel) throw Exception("Out of memory");
  // The connection goes as soon as it is had: closed, with nothing sent on it.
  channel->Take();
}

std::string RegistryClient::InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken) {
  // A request of its own each time: the custom header lines of an earlier one are not kept.
  HttpRequest request;
  request.CustomHeaders.push_back("Accept: application/json");
  request.CustomHeaders.push_back("Authorization: Bearer " + ApiToken);
  request.Accept = "application/json";
  request.UserAgent = kUserAgent;
  ClientHTTP.Request = std::move(request);
  return ClientHTTP.Get(RequestUrl(PIVA));
}

}  // namespace korvane::registry
