#include "registry/TcpSocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

TEST(TcpSocket, TheRequestIsNotHeldForAnAcknowledgement) {
  TlsTestServer listener({TlsTestServer::StaySilent()}, {.handshake = false, .lifetimeMs = 2000});
  const registry::Deadline deadline(5000);
  const registry::Socket socket =
      registry::ConnectTcp(registry::ResolveHost("127.0.0.1", listener.Port(), false, deadline), deadline, 5000);
  int noDelay = 0;
  socklen_t length = sizeof noDelay;
  ASSERT_EQ(getsockopt(socket.Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
  EXPECT_EQ(noDelay, 1);
}

}  // namespace
}  // namespace korvane
