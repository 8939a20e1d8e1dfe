#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "registry/ByteSource.h"
#include "registry/ChannelSettings.h"

namespace korvane::registry {
struct TlsConnection;
class PreparedChannel;
}  // namespace korvane::registry

namespace korvane {

// The TLS channel under the HTTP client: one verified TLS connection at a time, at least
// TLS 1.2 with forward-secret AEAD suites, with a limit on each send and receive, on the connect,
// and on the whole exchange from the start of Open.
class TIdSSLIOHandlerSocketOpenSSL final : public registry::ByteSource {
 public:
  TIdSSLIOHandlerSocketOpenSSL();
  ~TIdSSLIOHandlerSocketOpenSSL() override;
  TIdSSLIOHandlerSocketOpenSSL(const TIdSSLIOHandlerSocketOpenSSL&) = delete;
  TIdSSLIOHandlerSocketOpenSSL& operator=(const TIdSSLIOHandlerSocketOpenSSL&) = delete;

  // What its connections are opened with: the version set, the time limits (each send and
  // receive, the TCP connect, the whole exchange from the start of Open), the web proxy they go
  // through and the TLS context they share.
  registry::ChannelSettings settings;
  // A channel prepared ahead of the request, not owned; the next Open to its host and port takes
  // its connection (or raises its failure) instead of opening one.
  registry::PreparedChannel* prepared = nullptr;

  // Resolves `host`, connects to `port` and runs the handshake with `host` as the server name
  // and as the name the certificate must carry. `ipv6` marks a host written in brackets. A
  // connection still open to the same place (the last answer let it stay) is used again instead,
  // its exchange's time limit started anew.
  void Open(const std::string& host, int port, bool ipv6 = false);
  bool Connected() const;

  // Sends every byte.
  void Write(std::string_view bytes);
  std::size_t Read(char* buffer, std::size_t size) override;
  bool WaitForData(int milliseconds) override;

  // Sends the close alert once, frees the TLS objects and closes the socket. Never raises.
  void Close() noexcept;

 private:
  std::unique_ptr<registry::TlsConnection> connection_;
  // Where connection_ goes.
  std::optional<registry::ChannelTarget> target_;
};

}  // namespace korvane
