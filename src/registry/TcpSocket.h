#pragma once

#include <sys/socket.h>

#include <exception>
#include <string>

#include "registry/Deadline.h"

namespace korvane::registry {

// A TCP socket: closed when its owner goes, never copied.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int handle) : handle_(handle) {}
  ~Socket();
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int Handle() const { return handle_; }

 private:
  int handle_ = -1;
};

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool isIpLiteral = false;  // the host was written as an address, not a name
};

// Raised by a wait whose wake descriptor became readable: the owner of the work gave it up.
class WaitCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

// True when `host` is written as an address (IPv4, or IPv6 when `ipv6`), not as a name.
bool IsAddressLiteral(const std::string& host, bool ipv6);

// The address of `host` (8-bit text): "LOCALHOST" in any case is 127.0.0.1 without a lookup, an
// IPv4 address is used as written, any other name is looked up for IPv4 (the first result).
// `ipv6` marks a host written in brackets. The lookup runs in a thread of its own that is
// abandoned when the deadline passes first: a name server that never answers ends the wait at
// the deadline with the number 11002. Raises platform::SocketError.
SocketAddress ResolveHost(const std::string& host, int port, bool ipv6, const Deadline& deadline);

// Connects a non-blocking socket with TCP_NODELAY (the request goes out at once, never held for
// the acknowledgement of the handshake's last message), waiting for the connection to stand at
// most `connectLimitMs` and never past the deadline. Raises platform::SocketError (10060 when
// the connect limit runs out), or "Read timed out." when the deadline passes first.
Socket ConnectTcp(const SocketAddress& address, const Deadline& deadline, int connectLimitMs, int wakeFd = -1);

// Waits until the socket is ready for `events` (POLLIN, POLLOUT). False when the step limit of
// the budget runs out first; raises "Read timed out." when the deadline does, and WaitCancelled
// when `wakeFd` (when not -1) becomes readable first.
bool WaitForSocket(int socket, short events, WaitBudget budget, int wakeFd = -1);

// The Windows Sockets number of the last failed socket call (errno is read here only).
int LastSocketError();

}  // namespace korvane::registry
