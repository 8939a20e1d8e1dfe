#include "registry/Registro.h"

#include <utility>

#include "platform/Exception.h"
#include "registry/TlsConnection.h"

namespace korvane::registry {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

// What the registry's connections are opened with, the prepared ones and the clients' alike,
// all from one TLS context.
ChannelSettings SettingsFor(const RegistryEndpoint& endpoint) {
  ChannelSettings settings;
  settings.sslOptions.SetSSLVersions(kAllSslVersions);
  settings.proxy = endpoint.proxy;
  settings.context = std::make_shared<ClientContext>(settings.sslOptions);
  return settings;
}

}  // namespace

RegistryClient::RegistryClient(RegistryEndpoint endpoint, bool prepareChannel)
    : RegistryClient(endpoint, SettingsFor(endpoint), prepareChannel) {}

RegistryClient::RegistryClient(RegistryEndpoint endpoint, ChannelSettings settings, bool prepareChannel)
    : endpoint_(std::move(endpoint)), target_(ChannelTargetOf(endpoint_.Address())), settings_(std::move(settings)) {
  GestoreSSL.settings = settings_;
  ClientHTTP.IOHandler = &GestoreSSL;
  if (prepareChannel && target_) {
    prepared_ = PreparedChannel::Start(*target_, settings_);
    GestoreSSL.prepared = prepared_.get();
  }
}

RegistryClient::~RegistryClient() = default;

std::unique_ptr<RegistryClient> RegistryClient::AnotherClient(bool prepareChannel) const {
  return std::unique_ptr<RegistryClient>(new RegistryClient(endpoint_, settings_, prepareChannel));
}

std::optional<std::chrono::seconds> RegistryClient::LastRetryAfter() const {
  return RetryAfterOf(ClientHTTP.LastAnswer, std::chrono::system_clock::now());
}

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
  return ClientHTTP.Get(endpoint_.Url() + PIVA);
}

}  // namespace korvane::registry
