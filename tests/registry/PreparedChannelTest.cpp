#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChannelGet.h"
#include "registry/PreparedChannel.h"
#include "registry/Registro.h"
#include "support/ConnectProxy.h"
#include "support/TimeMargin.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using registry::RegistryClient;
using testing::TlsTestServer;
using Clock = std::chrono::steady_clock;

const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";

registry::RegistryEndpoint At(const std::string& url) {
  registry::RegistryEndpoint endpoint(url);
  return endpoint;
}

long MillisecondsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(PreparedChannel, GivenUpItShowsAHandshakeAndNoRequestByte) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(kAnswer)});
  auto client = std::make_unique<RegistryClient>(At(registry.Url("/base/")));
  ASSERT_TRUE(registry.WaitForHandshake(5000));
  client.reset();
  EXPECT_TRUE(registry.HandshakeCompleted());
  EXPECT_EQ(registry.Request(), "");
}

TEST(PreparedChannel, GivingUpDoesNotWaitForASlowServer) {
  // Accepts the connection and never answers the handshake.
  TlsTestServer silent({TlsTestServer::StaySilent()}, {.handshake = false, .lifetimeMs = 5000});
  auto client = std::make_unique<RegistryClient>(At(silent.Url("/base/")));
  ASSERT_TRUE(silent.WaitForConnection(5000));
  const Clock::time_point start = Clock::now();
  client.reset();
  // The channel waits for its thread at most its teardown wait (0.2 s), never for the handshake's
  // limits (seconds) nor for the server, which stays silent 5 s.
  EXPECT_LT(MillisecondsSince(start), 200 + testing::kLoadedMachineMargin.count());
}

TEST(PreparedChannel, TimeSpentWaitingForTheRequestDoesNotCount) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(kAnswer), TlsTestServer::Close()});
  TIdSSLIOHandlerSocketOpenSSL shortLimits;
  shortLimits.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
  shortLimits.settings.exchangeLimitMs = 1000;
  const auto prepared =
      registry::PreparedChannel::Start(*registry::ChannelTargetOf(registry.Url()), shortLimits.settings);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the databases are slow
  EXPECT_EQ(testing::GetThroughChannel(registry.Url("/base/1"),
                                       [&](TIdSSLIOHandlerSocketOpenSSL& handler) {
                                         handler.settings.exchangeLimitMs = 1000;
                                         handler.prepared = prepared.get();
                                       }),
            "{}");
}

TEST(PreparedChannel, AChannelTheServerClosedMeanwhileIsOpenedAgain) {
  // The first connection is closed by its server right after the handshake; the proxy hands the
  // second one to a server that answers.
  TlsTestServer closing({TlsTestServer::Close()});
  TlsTestServer answering({TlsTestServer::ExpectRequest(), TlsTestServer::Send(kAnswer), TlsTestServer::Close()});
  testing::ConnectProxy proxy({.upstreamPorts = {closing.Port(), answering.Port()}});
  registry::RegistryEndpoint endpoint = At(closing.Url("/base/"));
  endpoint.proxy = registry::ParseProxyUrl("127.0.0.1:" + std::to_string(proxy.Port()));
  RegistryClient client(endpoint);
  ASSERT_TRUE(closing.WaitFinished(5000));
  ASSERT_TRUE(proxy.WaitForClosedConnections(1, 5000));  // the close has reached the prepared channel
  EXPECT_EQ(testing::OutcomeOf([&] { return client.InterrogaRegistro("1", "t"); }), "{}");
  EXPECT_EQ(proxy.Requests().size(), 2u);
}

}  // namespace
}  // namespace korvane
