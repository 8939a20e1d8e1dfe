#pragma once

// The bottom floor of the registry layer, in words the rest of the program may use: where a TLS
// connection goes and what it is opened with.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "registry/RegistryEndpoint.h"

namespace korvane {

enum TIdSSLVersion : std::uint8_t {
  sslvSSLv2,
  sslvSSLv23,  // no protocol of its own: the version-flexible method
  sslvSSLv3,
  sslvTLSv1,
  sslvTLSv1_1,
  sslvTLSv1_2,
};

// A set of TIdSSLVersion, one bit per member (bit value 1 << member).
using TIdSSLVersions = std::uint8_t;

namespace registry {

class ClientContext;

constexpr TIdSSLVersions SslVersionBit(TIdSSLVersion version) { return static_cast<TIdSSLVersions>(1u << version); }
inline constexpr TIdSSLVersions kAllSslVersions = 63;

// The handler's version set, as its callers set it: the set chooses the library's method and
// which versions' options are switched off (under the channel's TLS 1.2 floor, which always holds).
class SslOptions {
 public:
  // Stores the set and derives Method: a single protocol selects it, anything else selects
  // the version-flexible method (and drops sslvSSLv23 from the stored set).
  void SetSSLVersions(TIdSSLVersions versions);
  TIdSSLVersions SSLVersions() const { return versions_; }
  TIdSSLVersion Method() const { return method_; }

 private:
  TIdSSLVersions versions_ = SslVersionBit(sslvTLSv1);
  TIdSSLVersion method_ = sslvTLSv1;
};

// The channel's time limits, in milliseconds: each send and receive, the TCP connect, and the
// whole exchange (connect, handshake, request and answer).
inline constexpr int kStepLimitMs = 30000;
inline constexpr int kConnectLimitMs = 30000;
inline constexpr int kExchangeLimitMs = 60000;

// The host and port a connection goes to; `host` as the URL has it (UTF-8), without brackets.
struct ChannelTarget {
  std::string host;
  int port = 443;
  bool ipv6 = false;

  bool operator==(const ChannelTarget&) const = default;
};

// What a connection is opened with.
struct ChannelSettings {
  SslOptions sslOptions;
  int stepLimitMs = kStepLimitMs;
  int connectLimitMs = kConnectLimitMs;
  int exchangeLimitMs = kExchangeLimitMs;
  std::optional<Proxy> proxy;
  // The TLS context that connections opened with these settings share, made from sslOptions
  // at the first opening; none: each connection makes its own.
  std::shared_ptr<ClientContext> context;
};

}  // namespace registry

}  // namespace korvane
