#pragma once

// TCP on 127.0.0.1 only: the local servers of the tools and of the tests listen there, and their
// relays connect there.

#include <string_view>

namespace korvane::loopback {

// A TCP socket listening on 127.0.0.1 (close-on-exec, address reuse), closed by its owner.
class Listener {
 public:
  // Port 0 picks a free one. Raises std::runtime_error when the port cannot be had.
  explicit Listener(int port = 0, int backlog = 16);
  ~Listener();
  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&& other) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Handle() const { return socket_; }
  // The port it listens on (the one picked when 0 was asked for).
  int Port() const { return port_; }

 private:
  int socket_ = -1;
  int port_ = 0;
};

// A new TCP connection to 127.0.0.1:<port> (close-on-exec), or -1 when none could be made.
int Connect(int port);

// Sends all of `bytes` on a connected socket (never raising SIGPIPE); false when a send fails
// first or the peer takes nothing more.
bool SendAll(int socket, std::string_view bytes);

}  // namespace korvane::loopback
