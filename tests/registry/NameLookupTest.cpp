#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>

#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TimeMargin.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

// A name server that never answers: a UDP socket on port 53 of a loopback address of its own,
// which takes the queries and says nothing.
class SilentNameServer {
 public:
  SilentNameServer() {
    std::random_device random;
    address_ = "127.83." + std::to_string(random() % 250 + 1) + "." + std::to_string(random() % 250 + 1);
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(53);
    inet_pton(AF_INET, address_.c_str(), &where.sin_addr);
    bound_ = socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
  }
  ~SilentNameServer() {
    if (socket_ >= 0) ::close(socket_);
  }
  bool Bound() const { return bound_; }
  const std::string& Address() const { return address_; }

 private:
  std::string address_;
  int socket_ = -1;
  bool bound_ = false;
};

// The lookup runs in a child whose view of /etc/resolv.conf (a private mount) names the silent
// server, with resolver time-outs far longer than the deadline.
TEST(NameLookup, ASilentNameServerEndsTheLookupAtTheDeadline) {
  SilentNameServer server;
  if (!server.Bound() || ::access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "needs root and unshare";
  testing::TempDir folder;
  const std::string resolvConf = folder.File("resolv.conf");
  std::ofstream(resolvConf) << "nameserver " << server.Address() << "\noptions timeout:30 attempts:3\n";
  const std::string command =
      "mount --bind " + resolvConf + " /etc/resolv.conf && exec " KORVANE_TLS_PROBE " lookup registry.example.com 1500";
  const Clock::time_point start = Clock::now();
  const testing::ProgramResult result = testing::RunProgram("/usr/bin/unshare", {"--mount", "sh", "-c", command});
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  if (result.out.empty()) GTEST_SKIP() << "no private mount here: " << result.err;
  EXPECT_EQ(result.out, "error: Socket Error # 11002");
  // The exchange's deadline (1.5 s here) ends the look-up, not the resolver's 30 s; the bound
  // counts from the child's start, the time from the test's also includes the mount.
  EXPECT_GE(elapsed, 1400);
  EXPECT_LT(elapsed, 1500 + testing::kLoadedMachineMargin.count());
}

}  // namespace
}  // namespace korvane
