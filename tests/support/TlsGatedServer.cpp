#include "support/TlsGatedServer.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/TestCertificates.h"

namespace korvane::testing {

TlsGatedServer::TlsGatedServer(std::string response, int gate, int gateMs)
    : response_(std::move(response)), gate_(gate), gateMs_(gateMs) {
  context_.reset(SSL_CTX_new(TLS_server_method()));
  if (context_ == nullptr || !certificates::UseIdentity(context_.get(), TestCertificates::Get().server)) {
    throw std::runtime_error("gated server: certificate");
  }
  acceptor_ = std::thread([this] { Accept(); });
}

TlsGatedServer::~TlsGatedServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  acceptor_.join();  // no connection thread is added after this
  for (std::thread& connection : connections_) connection.join();
}

std::string TlsGatedServer::Url(const std::string& path) const {
  return "https://localhost:" + std::to_string(listener_.Port()) + path;
}

int TlsGatedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool TlsGatedServer::WaitForRequests(int count, int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return requests_ >= count; });
}

void TlsGatedServer::Open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
  }
  changed_.notify_all();
}

void TlsGatedServer::Accept() {
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    pollfd entry{listener_.Handle(), POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const int socket = ::accept4(listener_.Handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (socket >= 0) connections_.emplace_back([this, socket] { Serve(socket); });
  }
}

void TlsGatedServer::Serve(int socket) {
  timeval limit{};
  limit.tv_sec = 30;
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const certificates::SslPtr owner(SSL_new(context_.get()));
  SSL* ssl = owner.get();
  SSL_set_fd(ssl, socket);
  if (SSL_accept(ssl) == 1) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      const int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got <= 0) break;
      head.append(buffer, static_cast<std::size_t>(got));
    }
    // A client that connected ahead of its request and then closed without one asked nothing.
    if (head.find("\r\n\r\n") == std::string::npos) {
      ::close(socket);
      return;
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++requests_;
      changed_.notify_all();
      changed_.wait_for(lock, std::chrono::milliseconds(gateMs_),
                        [this] { return stop_ || open_ || requests_ >= gate_; });
    }
    SSL_write(ssl, response_.data(), static_cast<int>(response_.size()));
    SSL_shutdown(ssl);
    // Reads what the peer still sends until it closes, so that closing does not reset the
    // connection under answer bytes it has not read yet.
    ::shutdown(socket, SHUT_WR);
    while (::recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
  }
  ::close(socket);
}

}  // namespace korvane::testing
