#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "loopback/Loopback.h"

namespace korvane::testing {

// A TCP relay on 127.0.0.1 (ephemeral port) in front of a local server, by default the database
// server: every connection to Port() is relayed, byte for byte, to 127.0.0.1:<target>, in a
// thread of the test process. The database server is then reached as "127.0.0.1/<Port()>:<path>".
// It can lose connections on purpose, as a network or a restarted server does.
class TcpProxy {
 public:
  explicit TcpProxy(int targetPort = 3050);
  ~TcpProxy();
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int Port() const { return listener_.Port(); }

  // Closes every connection relayed so far, both sides, as a server that restarts does; later
  // connections are relayed as usual. Returns once they are closed.
  void DropConnections();

  // Before each piece of an answer from the server is passed on, `lose` is asked (in the relay's
  // thread); the first time it says true, that piece is thrown away and its connection closed on
  // both sides: the server did the work, its answer never arrives. Later connections are relayed
  // as usual.
  void LoseAnswerWhen(std::function<bool()> lose);
  // True once an answer was lost that way.
  bool AnswerLost() const { return answerLost_; }

  // From now on every new connection is closed as soon as it is accepted (callable from `lose`).
  void RefuseNewConnections() { refuse_ = true; }

  // Connections accepted so far.
  int Connections() const { return connections_; }

 private:
  void Relay();

  int targetPort_;
  loopback::Listener listener_{0, 16};
  std::atomic<bool> stop_{false};
  std::atomic<bool> dropRequested_{false};
  std::atomic<bool> answerLost_{false};
  std::atomic<bool> refuse_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::function<bool()> lose_;
  std::thread thread_;
};

}  // namespace korvane::testing
