#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ChannelGet.h"
#include "loopback/Loopback.h"
#include "support/TimeMargin.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;
using Clock = std::chrono::steady_clock;

struct Limits {
  int read;
  int connect;
  int exchange;
};

struct Outcome {
  std::string text;  // the body, or "error: " and the message
  long milliseconds;
};

Outcome GetWithLimits(const std::string& url, Limits limits) {
  const Clock::time_point start = Clock::now();
  Outcome outcome;
  outcome.text = testing::GetThroughChannel(url, [&](TIdSSLIOHandlerSocketOpenSSL& handler) {
    handler.settings.stepLimitMs = limits.read;
    handler.settings.connectLimitMs = limits.connect;
    handler.settings.exchangeLimitMs = limits.exchange;
  });
  outcome.milliseconds =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return outcome;
}

// The point is that the run ends at its bound, not at the other limit (5 s or more in every case
// below) nor later.
constexpr long kMarginMs = testing::kLoadedMachineMargin.count();

TEST(TimeLimits, TheExchangeEndsAtItsDeadline) {
  std::vector<TlsTestServer::Step> drip = {TlsTestServer::ExpectRequest(),
                                           TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")};
  for (int i = 0; i < 100; ++i) {
    drip.push_back(TlsTestServer::Pause(100));
    drip.push_back(TlsTestServer::Send("x"));
  }
  TlsTestServer::Options bareTcp;
  bareTcp.handshake = false;
  struct Case {
    const char* name;
    std::vector<TlsTestServer::Step> script;
    TlsTestServer::Options options;
    Limits limits;
    std::string expected;
  };
  const Case cases[] = {
      // Every byte comes well within the receive limit; only the deadline ends the exchange.
      {"answer dripping a byte every 100 ms", drip, {}, {500, 30000, 1000}, "error: Read timed out."},
      {"handshake never answered, deadline first",
       {TlsTestServer::StaySilent()},
       bareTcp,
       {5000, 30000, 600},
       "error: Read timed out."},
      {"handshake never answered, receive limit first",
       {TlsTestServer::StaySilent()},
       bareTcp,
       {300, 30000, 5000},
       "error: Socket Error # 10060\r\nConnection timed out."},
      {"answer within the limits",
       {TlsTestServer::ExpectRequest(), TlsTestServer::Pause(200),
        TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), TlsTestServer::Close()},
       {},
       {500, 500, 2000},
       "ok"},
  };
  for (const Case& c : cases) {
    TlsTestServer server(c.script, c.options);
    const Outcome outcome = GetWithLimits(server.Url("/base/1"), c.limits);
    EXPECT_EQ(outcome.text, c.expected) << c.name;
    const int bound = c.expected == "ok" ? c.limits.exchange : std::min(c.limits.read, c.limits.exchange);
    EXPECT_LE(outcome.milliseconds, bound + kMarginMs) << c.name;
    if (c.expected != "ok") {
      EXPECT_GE(outcome.milliseconds, bound - 50) << c.name;
    }
  }
}

// A listening socket whose accept queue is full and never served: the kernel drops further
// connection attempts, and a connect waits until someone gives up.
class FullListener {
 public:
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(listener_.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 3; ++i) {
      const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(filler);
    }
  }
  ~FullListener() {
    for (int filler : fillers_) ::close(filler);
  }
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;

  int Port() const { return listener_.Port(); }

 private:
  loopback::Listener listener_{0, 0};
  std::vector<int> fillers_;
};

TEST(TimeLimits, ConnectEndsAtItsOwnLimitOrTheDeadline) {
  struct Case {
    const char* name;
    Limits limits;
    std::string expected;
    int bound;
  };
  const Case cases[] = {
      {"connect limit first", {30000, 400, 5000}, "error: Socket Error # 10060\r\nConnection timed out.", 400},
      {"deadline first", {30000, 5000, 400}, "error: Read timed out.", 400},
  };
  for (const Case& c : cases) {
    FullListener listener;
    const Outcome outcome = GetWithLimits("https://127.0.0.1:" + std::to_string(listener.Port()) + "/", c.limits);
    EXPECT_EQ(outcome.text, c.expected) << c.name;
    EXPECT_GE(outcome.milliseconds, c.bound - 50) << c.name;
    EXPECT_LE(outcome.milliseconds, c.bound + kMarginMs) << c.name;
  }
}

}  // namespace
}  // namespace korvane
