#include "support/TcpProxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <vector>

#include "loopback/Loopback.h"

namespace korvane::testing {

namespace {

bool SendAll(int s, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(s, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct Pair {
  int client;
  int server;
};

void ClosePair(Pair& pair) {
  // A reset, as a connection that is gone gives the peer, not an orderly end.
  linger reset{1, 0};
  ::setsockopt(pair.client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::setsockopt(pair.server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(pair.client);
  ::close(pair.server);
}

}  // namespace

TcpProxy::TcpProxy(int targetPort) : targetPort_(targetPort) {
  thread_ = std::thread([this] { Relay(); });
}

TcpProxy::~TcpProxy() {
  stop_ = true;
  thread_.join();
}

void TcpProxy::DropConnections() {
  dropRequested_ = true;
  while (dropRequested_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TcpProxy::LoseAnswerWhen(std::function<bool()> lose) {
  const std::lock_guard lock(mutex_);
  lose_ = std::move(lose);
}

void TcpProxy::Relay() {
  std::vector<Pair> pairs;
  std::vector<char> buffer(65536);
  while (!stop_) {
    if (dropRequested_) {
      for (Pair& pair : pairs) ClosePair(pair);
      pairs.clear();
      dropRequested_ = false;
    }
    std::vector<pollfd> watched{{listener_.Handle(), POLLIN, 0}};
    for (const Pair& pair : pairs) {
      watched.push_back({pair.client, POLLIN, 0});
      watched.push_back({pair.server, POLLIN, 0});
    }
    if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
    // A pair accepted below was not watched in this round: it is looked at in the next.
    const std::size_t watchedPairs = pairs.size();
    if (watched[0].revents & POLLIN) {
      const int client = ::accept4(listener_.Handle(), nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        const int server = refuse_ ? -1 : loopback::Connect(targetPort_);
        if (server < 0) {
          ::close(client);
        } else {
          pairs.push_back({client, server});
          ++connections_;
        }
      }
    }
    std::vector<Pair> kept(pairs.begin() + static_cast<std::ptrdiff_t>(watchedPairs), pairs.end());
    for (std::size_t i = 0; i < watchedPairs; ++i) {
      Pair& pair = pairs[i];
      const pollfd& fromClient = watched[1 + 2 * i];
      const pollfd& fromServer = watched[2 + 2 * i];
      bool open = true;
      if (fromClient.revents != 0) {
        const ssize_t n = ::recv(pair.client, buffer.data(), buffer.size(), 0);
        open = n > 0 && SendAll(pair.server, buffer.data(), static_cast<std::size_t>(n));
      }
      if (open && fromServer.revents != 0) {
        const ssize_t n = ::recv(pair.server, buffer.data(), buffer.size(), 0);
        open = n > 0;
        if (open && !answerLost_) {
          std::function<bool()> lose;
          {
            const std::lock_guard lock(mutex_);
            lose = lose_;
          }
          if (lose && lose()) {
            answerLost_ = true;
            open = false;
          }
        }
        if (open) open = SendAll(pair.client, buffer.data(), static_cast<std::size_t>(n));
      }
      if (open) {
        kept.push_back(pair);
      } else {
        ClosePair(pair);
      }
    }
    pairs = std::move(kept);
  }
  for (Pair& pair : pairs) ClosePair(pair);
}

}  // namespace korvane::testing
