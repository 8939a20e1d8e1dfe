#include "loopback/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace korvane::loopback {

namespace {

sockaddr_in Address(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

Listener::Listener(int port, int backlog) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address = Address(port);
  socklen_t length = sizeof address;
  const int reuse = 1;
  if (socket_ < 0 || ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
      ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket_, backlog) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (socket_ >= 0) ::close(socket_);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (socket_ >= 0) ::close(socket_);
}

Listener::Listener(Listener&& other) noexcept
    : socket_(std::exchange(other.socket_, -1)), port_(std::exchange(other.port_, 0)) {}

Listener& Listener::operator=(Listener&& other) noexcept {
  if (this != &other) {
    if (socket_ >= 0) ::close(socket_);
    socket_ = std::exchange(other.socket_, -1);
    port_ = std::exchange(other.port_, 0);
  }
  return *this;
}

int Connect(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return -1;
  const sockaddr_in address = Address(port);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket);
    return -1;
  }
  return socket;
}

bool SendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace korvane::loopback
