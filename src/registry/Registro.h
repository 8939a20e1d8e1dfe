#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "registry/ChannelSettings.h"
#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/PreparedChannel.h"
#include "registry/RegistryEndpoint.h"

namespace korvane::registry {

// The client of the registry at one address: the HTTP client and the TLS handler under it, the
// address's target and channel settings worked out once, and the channel its first request goes
// on, made ready ahead. Released together: the HTTP client first (releasing it closes the
// handler's connection), then the handler, then a prepared channel never used, closed without a
// request byte.
class RegistryClient {
 public:
  // With `prepareChannel`, the connection for the first request is made ready at once (name
  // lookup, connect, proxy tunnel, TLS handshake and verification) in a thread of its own while
  // the caller does its other work; nothing is prepared when the address is not one a connection
  // can be opened to (the request then reports it) or no thread can be had.
  explicit RegistryClient(RegistryEndpoint endpoint, bool prepareChannel = true);
  ~RegistryClient();
  // Another client of the same address, with the same settings and the same TLS context (made
  // once for all of them), for a thread of its own: each client is used by one thread at a time,
  // and clients made this way may ask at once. With `prepareChannel`, as the constructor. May be
  // called from any thread while this client lives.
  std::unique_ptr<RegistryClient> AnotherClient(bool prepareChannel) const;
  RegistryClient(const RegistryClient&) = delete;
  RegistryClient& operator=(const RegistryClient&) = delete;

  // Asks the registry for the company with this VAT number, with the bearer token, and returns
  // the body of the answer as UTF-8 text. The first request goes on the prepared channel (its
  // failure is raised here), every other one on a connection opened for it. Each request is made
  // afresh: nothing of an earlier one is sent again.
  std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken);
  // Instead of a request, for the free check: waits for the prepared channel (name lookup,
  // connect, proxy tunnel, TLS handshake and the server's verification), then closes it with the
  // close alert and no request byte. Raises the channel's failure.
  void ProbeChannel();
  // The status code of the last request's answer; 0 when none arrived.
  int LastStatus() const { return ClientHTTP.ResponseCode; }
  // How long the last answer asked the client to wait before asking again (its Retry-After
  // header, seconds or a date); nothing when it did not.
  std::optional<std::chrono::seconds> LastRetryAfter() const;
  // True when the last request's bytes began to leave: from there it may be paid for.
  bool LastRequestSent() const { return ClientHTTP.RequestSent; }
  // Where the requests go.
  const RegistryEndpoint& Endpoint() const { return endpoint_; }

 private:
  RegistryClient(RegistryEndpoint endpoint, ChannelSettings settings, bool prepareChannel);

  RegistryEndpoint endpoint_;
  std::optional<ChannelTarget> target_;
  ChannelSettings settings_;
  std::unique_ptr<PreparedChannel> prepared_;
  TIdSSLIOHandlerSocketOpenSSL GestoreSSL;
  TIdHTTP ClientHTTP;
};

}  // namespace korvane::registry
