#include "support/ConnectProxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "loopback/Loopback.h"

namespace korvane::testing {

namespace {

constexpr int kPollMs = 50;

std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + 4 + name.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace

ConnectProxy::ConnectProxy(Options options) : options_(std::move(options)) {
  thread_ = std::thread([this] { Serve(); });
}

ConnectProxy::~ConnectProxy() {
  stop_ = true;
  thread_.join();
}

std::vector<std::string> ConnectProxy::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ConnectProxy::WaitForClosedConnections(std::size_t count, int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return closedSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return closed_ >= count; });
}

void ConnectProxy::Serve() {
  while (!stop_) {
    pollfd entry{listener_.Handle(), POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    const int client = ::accept4(listener_.Handle(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ServeOne(client);
    ::close(client);
    const std::lock_guard<std::mutex> lock(mutex_);
    ++closed_;
    closedSignal_.notify_all();
  }
}

void ConnectProxy::ServeOne(int client) {
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd entry{client, POLLIN, 0};
    if (stop_) return;
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    char byte = 0;
    if (::recv(client, &byte, 1, 0) <= 0) return;
    head.push_back(byte);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(head);
  }
  if (!options_.requiredAuthorization.empty() &&
      HeaderValue(head, "Proxy-Authorization") != options_.requiredAuthorization) {
    loopback::SendAll(client,
                      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"test\"\r\n"
                      "Content-Length: 0\r\n\r\n");
    return;
  }
  // "CONNECT <host>:<port> HTTP/1.1": the port after the authority's last colon.
  const std::size_t space = head.find(' ', 8);
  const std::string authority = head.substr(8, space - 8);
  int port = std::atoi(authority.substr(authority.rfind(':') + 1).c_str());
  if (!options_.upstreamPorts.empty()) {
    port = options_.upstreamPorts[std::min(tunnels_, options_.upstreamPorts.size() - 1)];
  }
  ++tunnels_;
  const int upstream = loopback::Connect(port);
  if (upstream < 0) {
    loopback::SendAll(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  loopback::SendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n");
  pollfd entries[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
  char buffer[16384];
  while (!stop_) {
    if (::poll(entries, 2, kPollMs) <= 0) continue;
    bool ended = false;
    for (int i = 0; i < 2; ++i) {
      if (entries[i].revents == 0) continue;
      const ssize_t got = ::recv(entries[i].fd, buffer, sizeof buffer, 0);
      if (got <= 0 || !loopback::SendAll(entries[1 - i].fd, std::string_view(buffer, static_cast<std::size_t>(got))))
        ended = true;
    }
    if (ended) break;
  }
  ::close(upstream);
}

}  // namespace korvane::testing
