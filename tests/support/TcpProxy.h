#pragma once

#include <atomic>
#include <cstddef>
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

  // Before each piece of a request from the client is passed on, `stall` is asked (in the relay's
  // thread); the first time it says true, that piece and everything after it on that connection
  // is held, both sides left open: a server that stopped answering, as far as the client can
  // tell. Later connections are relayed as usual, until StallWhen is called again.
  void StallWhen(std::function<bool()> stall);
  bool Stalled() const { return stalled_; }

  // From now on every new connection is closed as soon as it is accepted (callable from `lose`).
  void RefuseNewConnections() { refuse_ = true; }

  // Connections accepted so far.
  int Connections() const { return connections_; }

  // How a connection is cut: a reset, as a network that drops it gives, or an orderly close
  // (FIN), as a server that goes away in order gives.
  enum class Cut { Reset, Close };
  // The next connection accepted is cut, both sides, once `bytes` bytes have passed through it
  // in both directions together: what would cross the window's edge is not passed on. Later
  // connections are relayed as usual. Call it before the connection is made.
  void CutNextConnectionAt(std::size_t bytes, Cut how);
  // The bytes that passed, both directions together, through the first connection accepted.
  std::size_t FirstConnectionBytes() const { return firstConnectionBytes_; }

 private:
  void Relay();

  int targetPort_;
  loopback::Listener listener_{0, 16};
  std::atomic<bool> stop_{false};
  std::atomic<bool> dropRequested_{false};
  std::atomic<bool> answerLost_{false};
  std::atomic<bool> stalled_{false};
  std::atomic<bool> refuse_{false};
  std::atomic<int> connections_{0};
  std::atomic<std::size_t> firstConnectionBytes_{0};
  // The cut asked for, taken by the next connection accepted.
  std::atomic<bool> cutPending_{false};
  std::atomic<std::size_t> cutAt_{0};
  std::atomic<Cut> cutHow_{Cut::Reset};
  std::mutex mutex_;
  std::function<bool()> lose_;
  std::function<bool()> stall_;
  std::thread thread_;
};

}  // namespace korvane::testing
