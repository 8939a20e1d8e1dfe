#pragma once

// Inside the registry layer only: the library's handles of one open connection.

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "registry/Deadline.h"
#include "registry/ChannelSettings.h"
#include "registry/TcpSocket.h"
#include "registry/TlsHandles.h"

namespace korvane::registry {

// The TLS context connections are made from: made at the first opening that asks for it (its
// failure raised there, and tried again at the next), then shared by connections opened from any
// thread. The trust store it reads on demand is shared with it.
class ClientContext {
 public:
  explicit ClientContext(SslOptions options) : options_(options) {}

  // The context, made now when it is not yet; raises the making's failure. Its library must
  // have been started.
  SSL_CTX* Get();

 private:
  std::mutex lock_;
  const SslOptions options_;
  SslContext context_;
};

// One open TLS connection. Its owners are released in reverse order of declaration: the TLS
// object (which holds its own reference to the context), then the socket.
struct TlsConnection {
  TlsConnection(Deadline exchangeDeadline, int socketLimitMs, int wake)
      : deadline(exchangeDeadline), stepLimitMs(socketLimitMs), wakeFd(wake) {}
  ~TlsConnection();
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  // Runs one TLS call until it is done: while the library asks for the socket to become
  // readable or writable, waits for that (within the step limit and the deadline) and calls
  // again. Returns the call's result, or 0 for the peer's close alert when `closeEndsData`.
  int Run(std::string_view failurePrefix, bool closeEndsData, const std::function<int(SSL*)>& call);

  // False when the peer has closed (or reset) the connection while it stood idle; reads nothing
  // of the answer (messages of the TLS layer itself, such as session tickets, are taken in).
  bool StillOpen();

  Deadline deadline;
  int stepLimitMs;
  int wakeFd;  // -1, or readable once the connection's preparation has been given up
  Socket socket;
  SslSession ssl;
  bool handshakeDone = false;
  bool peerClosed = false;
};

// Marks the stretches of an opening that use the TLS library: `enter` before each (raising
// WaitCancelled to stop there), `leave` after. Either may be empty.
struct LibraryGate {
  std::function<void()> enter;
  std::function<void()> leave;
};

// Opens a connection to the target: starts the library, makes the client context, resolves the
// host (or the proxy's), connects, opens the proxy's tunnel when there is one, and runs the
// handshake with the target's host as server name and as the name the certificate must carry.
// Waits are woken by `wakeFd` (when not -1) with WaitCancelled. Raises the channel's failures.
std::unique_ptr<TlsConnection> OpenTlsConnection(const ChannelTarget& target, const ChannelSettings& settings,
                                                 const Deadline& deadline, int wakeFd = -1,
                                                 const LibraryGate& gate = {});

}  // namespace korvane::registry
