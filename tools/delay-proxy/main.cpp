// A TCP relay on 127.0.0.1 that plays a network link with a round-trip time: every chunk that
// arrives from either side is passed on half a round trip later, and a new connection starts to
// flow one round trip after it was accepted, as a TCP connect over that link would. For
// benchmarks: korvane and curl reach the same server through it.
//
//   delay-proxy <listen port> <target port> <round trip ms>
//
// Prints "listening <port>" once ready (port 0 picks a free one). Relays until killed.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "loopback/Loopback.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::string bytes;  // empty: the sender closed its side
};

// One direction of a connection: what was read from `from` and waits to go to `to`.
struct Flow {
  int from = -1;
  int to = -1;
  std::deque<Chunk> pending;
  bool readDone = false;   // `from` has closed its side
  bool writeDone = false;  // the close has been passed on
};

struct Link {
  Clock::time_point flowsFrom;  // a connect takes one round trip
  Flow flows[2];
  ~Link() {
    ::close(flows[0].from);
    ::close(flows[0].to);
  }
  bool Done() const { return flows[0].writeDone && flows[1].writeDone; }
};

void NoDelay(int socket) {
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: delay-proxy <listen port> <target port> <round trip ms>\n");
    return 2;
  }
  const int targetPort = std::atoi(argv[2]);
  const auto oneWay = std::chrono::microseconds(std::atoi(argv[3]) * 500);

  std::optional<korvane::loopback::Listener> bound;
  try {
    bound.emplace(std::atoi(argv[1]), 64);
  } catch (const std::runtime_error&) {
    std::perror("delay-proxy");  // errno is still the failed call's
    return 1;
  }
  const int listener = bound->Handle();
  std::printf("listening %d\n", bound->Port());
  std::fflush(stdout);

  std::list<Link> links;
  std::vector<char> buffer(65536);
  for (;;) {
    const Clock::time_point now = Clock::now();
    // Pass on what is due, and work out when the next chunk (or a connect) is.
    Clock::time_point next = now + std::chrono::seconds(1);
    for (Link& link : links) {
      if (link.flowsFrom > now && link.flowsFrom < next) next = link.flowsFrom;
      for (Flow& flow : link.flows) {
        while (!flow.pending.empty() && flow.pending.front().due <= now) {
          const std::string& bytes = flow.pending.front().bytes;
          if (bytes.empty()) {
            ::shutdown(flow.to, SHUT_WR);
            flow.writeDone = true;
          } else {
            std::size_t sent = 0;
            while (sent < bytes.size()) {
              const ssize_t n = ::send(flow.to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
              if (n <= 0) break;
              sent += static_cast<std::size_t>(n);
            }
          }
          flow.pending.pop_front();
        }
        if (!flow.pending.empty() && flow.pending.front().due < next) next = flow.pending.front().due;
      }
    }
    links.remove_if([](const Link& link) { return link.Done(); });

    std::vector<pollfd> entries{{listener, POLLIN, 0}};
    std::vector<Flow*> readers;
    for (Link& link : links) {
      if (link.flowsFrom > now) continue;
      for (Flow& flow : link.flows) {
        if (flow.readDone) continue;
        entries.push_back({flow.from, POLLIN, 0});
        readers.push_back(&flow);
      }
    }
    const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    if (::poll(entries.data(), entries.size(), static_cast<int>(waitMs > 0 ? waitMs : 0)) < 0) continue;

    const Clock::time_point arrived = Clock::now();
    if (entries[0].revents != 0) {
      const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      const int upstream = client >= 0 ? korvane::loopback::Connect(targetPort) : -1;
      if (upstream < 0) {
        if (client >= 0) ::close(client);
      } else {
        NoDelay(client);
        NoDelay(upstream);
        Link& link = links.emplace_back();
        link.flowsFrom = arrived + 2 * oneWay;
        link.flows[0].from = client;
        link.flows[0].to = upstream;
        link.flows[1].from = upstream;
        link.flows[1].to = client;
      }
    }
    for (std::size_t i = 1; i < entries.size(); ++i) {
      if (entries[i].revents == 0) continue;
      Flow& flow = *readers[i - 1];
      const ssize_t got = ::recv(flow.from, buffer.data(), buffer.size(), 0);
      if (got <= 0) {
        flow.readDone = true;
        flow.pending.push_back({arrived + oneWay, {}});
      } else {
        flow.pending.push_back({arrived + oneWay, std::string(buffer.data(), static_cast<std::size_t>(got))});
      }
    }
  }
}
