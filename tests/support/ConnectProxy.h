#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback/Loopback.h"

namespace korvane::testing {

// A web proxy on 127.0.0.1 (ephemeral port) that serves HTTP CONNECT, one connection after the
// other, in a thread of the test process. A tunnel goes to 127.0.0.1 at the port that the
// request names, whatever its host; the bytes are relayed as they come, unread. Answers that a
// proxy may give instead (403, odd status lines) are scripted with a bare TlsTestServer.
class ConnectProxy {
 public:
  struct Options {
    // When not empty, the value Proxy-Authorization must have ("Basic ..."); otherwise 407.
    std::string requiredAuthorization = {};
    // When not empty, the n-th tunnel goes to the n-th of these ports instead of the one asked
    // for (the last one serves the rest): a test can hand successive connections to different
    // servers.
    std::vector<int> upstreamPorts = {};
  };

  ConnectProxy() : ConnectProxy(Options{}) {}
  explicit ConnectProxy(Options options);
  ~ConnectProxy();
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  int Port() const { return listener_.Port(); }
  // The request heads received so far, each up to and including its empty line.
  std::vector<std::string> Requests();
  // True once `count` connections have been served to their end and closed on both sides
  // within the time.
  bool WaitForClosedConnections(std::size_t count, int milliseconds);

 private:
  void Serve();
  void ServeOne(int client);

  Options options_;
  loopback::Listener listener_{0, 8};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable closedSignal_;
  std::vector<std::string> requests_;
  std::size_t closed_ = 0;
  std::size_t tunnels_ = 0;
  std::thread thread_;
};

}  // namespace korvane::testing
