#include "registry/IdSSLOpenSSL.h"

#include <openssl/ssl.h>
#include <poll.h>

#include <algorithm>
#include <utility>

#include "platform/Exception.h"
#include "platform/Trace.h"
#include "registry/PreparedChannel.h"
#include "registry/TcpSocket.h"
#include "registry/TlsConnection.h"

namespace korvane {

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL() = default;

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() { Close(); }

bool TIdSSLIOHandlerSocketOpenSSL::Connected() const { return connection_ != nullptr; }

void TIdSSLIOHandlerSocketOpenSSL::Open(const std::string& host, int port, bool ipv6) {
  const registry::ChannelTarget target{host, port, ipv6};
  // A server that closed the connection meanwhile has sent its close alert (or closed the socket)
  // by now: only one that is still open is used again.
  if (connection_ && target_ == target && connection_->StillOpen()) {
    connection_->deadline = registry::Deadline(settings.exchangeLimitMs);
    platform::trace::Step("request on the open connection");
    return;
  }
  Close();
  target_ = target;
  if (registry::PreparedChannel* channel = std::exchange(prepared, nullptr);
      channel != nullptr && channel->Serves(target)) {
    connection_ = channel->Take();
    // A server may close a connection that waited long for its request: then a new one is opened,
    // with the exchange's whole time.
    if (connection_->StillOpen()) {
      platform::trace::Step("request on the prepared channel");
      return;
    }
    connection_.reset();
    platform::trace::Step("the prepared channel was closed by the server: opening another");
  }
  connection_ = registry::OpenTlsConnection(target, settings, registry::Deadline(settings.exchangeLimitMs));
}

void TIdSSLIOHandlerSocketOpenSSL::Write(std::string_view bytes) {
  if (!connection_) throw Exception("Not Connected");
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    const int sent = connection_->Run("", false, [&](SSL* ssl) { return SSL_write(ssl, bytes.data(), chunk); });
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

std::size_t TIdSSLIOHandlerSocketOpenSSL::Read(char* buffer, std::size_t size) {
  if (!connection_) throw Exception("Not Connected");
  if (connection_->peerClosed || size == 0) return 0;
  const int wanted = static_cast<int>(std::min(size, registry::kReadBufferSize));
  const int got = connection_->Run("", true, [&](SSL* ssl) { return SSL_read(ssl, buffer, wanted); });
  if (got == 0) connection_->peerClosed = true;
  return static_cast<std::size_t>(got);
}

bool TIdSSLIOHandlerSocketOpenSSL::WaitForData(int milliseconds) {
  if (!connection_ || connection_->peerClosed || SSL_pending(connection_->ssl.get()) > 0) return true;
  return registry::WaitForSocket(connection_->socket.Handle(), POLLIN, connection_->deadline.BudgetFor(milliseconds));
}

void TIdSSLIOHandlerSocketOpenSSL::Close() noexcept {
  connection_.reset();
  target_.reset();
}

}  // namespace korvane
