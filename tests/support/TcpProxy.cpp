#include "support/TcpProxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

#include "loopback/Loopback.h"

namespace korvane::testing {

namespace {

struct Pair {
  int client;
  int server;
  bool first = false;  // the first connection accepted: its bytes are counted
  bool cut = false;    // cut once `relayed` reaches `cutAt`
  std::size_t cutAt = 0;
  bool orderly = false;     // the cut closes in order instead of resetting
  std::size_t relayed = 0;  // bytes passed on, both directions
  bool stalled = false;     // nothing passes any more; both sides stay open
};

void ClosePair(Pair& pair, bool orderly = false) {
  // A reset, as a connection that is gone gives the peer, not an orderly end.
  if (!orderly) {
    linger reset{1, 0};
    ::setsockopt(pair.client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::setsockopt(pair.server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  ::close(pair.client);
  ::close(pair.server);
}

// Passes on what `pair` may still carry of `size` bytes before its cut; false when the pair is to
// be closed (a failed send, or the cut reached).
bool PassOn(Pair& pair, int to, const char* data, std::size_t size) {
  const std::size_t room = pair.cut ? pair.cutAt - pair.relayed : size;
  const std::size_t passed = std::min(size, room);
  if (!loopback::SendAll(to, std::string_view(data, passed))) return false;
  pair.relayed += passed;
  return !(pair.cut && pair.relayed >= pair.cutAt);
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

void TcpProxy::CutNextConnectionAt(std::size_t bytes, Cut how) {
  cutAt_ = bytes;
  cutHow_ = how;
  cutPending_ = true;
}

void TcpProxy::LoseAnswerWhen(std::function<bool()> lose) {
  const std::lock_guard lock(mutex_);
  lose_ = std::move(lose);
}

void TcpProxy::StallWhen(std::function<bool()> stall) {
  const std::lock_guard lock(mutex_);
  stall_ = std::move(stall);
  stalled_ = false;
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
      // A stalled pair is not read: what its sides send waits in the sockets.
      const short events = pair.stalled ? 0 : POLLIN;
      watched.push_back({pair.client, events, 0});
      watched.push_back({pair.server, events, 0});
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
          Pair pair{client, server};
          pair.first = ++connections_ == 1;
          if (cutPending_.exchange(false)) {
            pair.cut = true;
            pair.cutAt = cutAt_;
            pair.orderly = cutHow_ == Cut::Close;
          }
          if (pair.cut && pair.cutAt == 0) {
            ClosePair(pair, pair.orderly);
          } else {
            pairs.push_back(pair);
          }
        }
      }
    }
    std::vector<Pair> kept(pairs.begin() + static_cast<std::ptrdiff_t>(watchedPairs), pairs.end());
    for (std::size_t i = 0; i < watchedPairs; ++i) {
      Pair& pair = pairs[i];
      const pollfd& fromClient = watched[1 + 2 * i];
      const pollfd& fromServer = watched[2 + 2 * i];
      bool open = true;
      // A stalled pair whose side went away is closed (its poll would report that at once, again
      // and again).
      if (pair.stalled && ((fromClient.revents | fromServer.revents) & (POLLERR | POLLHUP)) != 0) open = false;
      if (!pair.stalled && fromClient.revents != 0) {
        const ssize_t n = ::recv(pair.client, buffer.data(), buffer.size(), 0);
        open = n > 0;
        if (open && !stalled_) {
          std::function<bool()> stall;
          {
            const std::lock_guard lock(mutex_);
            stall = stall_;
          }
          if (stall && stall()) stalled_ = pair.stalled = true;
        }
        if (open && !pair.stalled) open = PassOn(pair, pair.server, buffer.data(), static_cast<std::size_t>(n));
      }
      if (open && !pair.stalled && fromServer.revents != 0) {
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
        if (open) open = PassOn(pair, pair.client, buffer.data(), static_cast<std::size_t>(n));
      }
      if (pair.first) firstConnectionBytes_ = pair.relayed;
      if (open) {
        kept.push_back(pair);
      } else {
        ClosePair(pair, pair.cut && pair.relayed >= pair.cutAt && pair.orderly);
      }
    }
    pairs = std::move(kept);
  }
  for (Pair& pair : pairs) ClosePair(pair);
}

}  // namespace korvane::testing
