#include "registry/RegistryEndpoint.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "registry/Uri.h"

namespace korvane::registry {

namespace {

constexpr const char* kUrlVariable = "KORVANE_REGISTRY_URL";

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = platform::HexDigitValue(text[i + 1]);
    const int low = platform::HexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

// The first variable of the pair that is set (the lower-case name first, as curl reads them),
// with its name; nothing when neither is.
std::optional<std::pair<std::string, std::string>> FirstSet(const platform::EnvironmentLookup& lookup,
                                                            const char* lower, const char* upper) {
  for (const char* name : {lower, upper}) {
    if (const char* value = lookup(name); value != nullptr)
      return std::make_pair(std::string(name), std::string(value));
  }
  return std::nullopt;
}

}  // namespace

RegistryEndpoint::RegistryEndpoint(std::string url, std::optional<Proxy> through)
    : proxy(std::move(through)), url_(std::move(url)), address_(ParseUri(url_)) {}

std::string RegistryEndpoint::HostAndPort() const {
  const std::string host = address_.ipv6 ? "[" + address_.host + "]" : address_.host;
  return address_.port.empty() ? host : host + ":" + address_.port;
}

std::string RegistryEndpoint::RequestPath(std::string_view vatNumber) const {
  std::string path = address_.path + address_.document;
  if (!address_.hasQuery && !address_.hasFragment) path += vatNumber;
  return path;
}

std::string Proxy::Authority() const { return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port); }

std::optional<Proxy> ParseProxyUrl(std::string_view value) {
  if (value.empty() || platform::HasAsciiControlCharacter(value) ||
      value.find_first_of(" \t") != std::string_view::npos) {
    return std::nullopt;
  }
  if (const std::size_t schemeEnd = value.find("://"); schemeEnd != std::string_view::npos) {
    if (!platform::SameTextAscii(value.substr(0, schemeEnd), "http")) return std::nullopt;
    value.remove_prefix(schemeEnd + 3);
  }
  if (!value.empty() && value.back() == '/') value.remove_suffix(1);
  if (value.find_first_of("/?#") != std::string_view::npos) return std::nullopt;

  Proxy proxy;
  if (const std::size_t at = value.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = value.substr(0, at);
    value.remove_prefix(at + 1);
    const std::size_t colon = userInfo.find(':');
    const auto user = PercentDecoded(userInfo.substr(0, colon));
    const auto password =
        PercentDecoded(colon == std::string_view::npos ? std::string_view() : userInfo.substr(colon + 1));
    if (!user || !password) return std::nullopt;
    proxy.hasCredentials = true;
    proxy.user = *user;
    proxy.password = *password;
  }
  std::string_view portText;
  if (!value.empty() && value.front() == '[') {
    const std::size_t close = value.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    proxy.ipv6 = true;
    proxy.host = std::string(value.substr(1, close - 1));
    const std::string_view rest = value.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const std::size_t colon = value.find(':');
    proxy.host = std::string(value.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = value.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
  }
  if (proxy.host.empty()) return std::nullopt;
  if (!portText.empty()) {
    const std::optional<std::uint64_t> port = portText.size() <= 5 ? platform::DigitsValue(portText, 10) : std::nullopt;
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    proxy.port = static_cast<int>(*port);
  }
  return proxy;
}

std::string WithoutCredentials(std::string_view url) {
  const std::size_t schemeEnd = url.find("://");
  const std::size_t authorityStart = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
  const std::size_t authorityEnd = std::min(url.find_first_of("/?#", authorityStart), url.size());
  const std::size_t at = url.substr(0, authorityEnd).rfind('@');
  if (at == std::string_view::npos || at < authorityStart) return WithoutQuery(url);
  return std::string(url.substr(0, authorityStart)) + "***" + WithoutQuery(url.substr(at));
}

std::string WithoutQuery(std::string_view text) {
  const std::size_t question = text.find('?');
  if (question == std::string_view::npos) return std::string(text);
  // A request line goes on after its target; an address's query runs to its end (a fragment
  // after it included).
  const std::size_t end = std::min(text.find(' ', question), text.size());
  return std::string(text.substr(0, question)) + "?***" + std::string(text.substr(end));
}

bool NoProxyNames(std::string_view noProxy, std::string_view host) {
  const std::string lowerHost = platform::LowerCaseAscii(host);
  while (!noProxy.empty()) {
    const std::size_t comma = noProxy.find(',');
    std::string_view entry = platform::TrimBlanksAndTabs(noProxy.substr(0, comma));
    noProxy = comma == std::string_view::npos ? std::string_view() : noProxy.substr(comma + 1);
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (entry.empty()) continue;
    const std::string lowerEntry = platform::LowerCaseAscii(entry);
    if (lowerHost == lowerEntry) return true;
    if (lowerHost.size() > lowerEntry.size() && lowerHost.ends_with(lowerEntry) &&
        lowerHost[lowerHost.size() - lowerEntry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

RegistryEndpoint ReadRegistryEndpoint(const platform::EnvironmentLookup& lookup) {
  std::string url = kDefaultRegistryUrl;
  if (const char* configured = lookup(kUrlVariable); configured != nullptr && *configured != '\0') {
    url = configured;
  }
  // The VAT number is the last path segment: "https://host/IT-start" asks for /IT-start/<VAT>.
  // An address with a query or a fragment is taken as written.
  const bool endsPath = url.back() == '/' || url.back() == '\\';
  if (!endsPath && url.find_first_of("?#") == std::string::npos) url += '/';
  if (platform::HasAsciiControlCharacter(url) || url.find(' ') != std::string::npos) {
    throw Exception("Indirizzo del registro non valido (KORVANE_REGISTRY_URL)");
  }
  RegistryEndpoint endpoint(std::move(url));

  // An empty value means no proxy, as for curl; the upper-case name is read only when the
  // lower-case one is not set at all.
  const auto proxyValue = FirstSet(lookup, "https_proxy", "HTTPS_PROXY");
  if (!proxyValue || proxyValue->second.empty()) return endpoint;
  std::optional<Proxy> proxy = ParseProxyUrl(proxyValue->second);
  if (!proxy) throw Exception("Indirizzo del proxy non valido (" + proxyValue->first + ")");
  proxy->variable = proxyValue->first;

  const auto noProxy = FirstSet(lookup, "no_proxy", "NO_PROXY");
  if (noProxy && NoProxyNames(noProxy->second, endpoint.Address().host)) return endpoint;
  endpoint.proxy = std::move(proxy);
  return endpoint;
}

}  // namespace korvane::registry
