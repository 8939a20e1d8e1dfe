#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "ChannelGet.h"
#include "loopback/Loopback.h"
#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/Registro.h"
#include "support/ConnectProxy.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;
using Step = TlsTestServer::Step;

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

// Trusts the test CA for the whole test program, through the variable the library reads.
class TrustTestCa : public ::testing::Environment {
 public:
  void SetUp() override {
    folder_ = std::make_unique<testing::TempDir>();
    const std::string path = folder_->File("ca.pem");
    testing::TestCertificates::Get().WriteCaPem(path);
    setenv("SSL_CERT_FILE", path.c_str(), 1);
    unsetenv("SSL_CERT_DIR");
  }
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<testing::TempDir> folder_;
};

const auto* const kTrustTestCa = ::testing::AddGlobalTestEnvironment(new TrustTestCa);

// Runs the registry request against the server, on a channel prepared as the run prepares it,
// and returns the body or "error: " + message.
std::string Query(TlsTestServer& server, const std::string& piva, const std::string& token,
                  const std::string& host = "localhost") {
  registry::RegistryEndpoint endpoint(server.Url("/base/", host));
  return testing::AskRegistry(endpoint, piva, token);
}

// The same on a connection opened when the request goes out. A prepared channel that its server
// closes before the request is opened again, which a server of one connection cannot show.
std::string QueryOnNewConnection(TlsTestServer& server) {
  registry::RegistryEndpoint endpoint(server.Url("/base/"));
  registry::RegistryClient client(endpoint, false);
  return testing::OutcomeOf([&] { return client.InterrogaRegistro("01234567890", "t"); });
}

// A GET through a handler with a short receive limit.
std::string GetWithLimit(const std::string& url, int limitMs) {
  return testing::GetThroughChannel(
      url, [&](TIdSSLIOHandlerSocketOpenSSL& handler) { handler.settings.stepLimitMs = limitMs; });
}

std::vector<Step> Answer(const std::string& bytes) {
  return {TlsTestServer::ExpectRequest(), TlsTestServer::Send(bytes), TlsTestServer::Close()};
}

TEST(SSLOptions, VersionSetDecidesTheMethod) {
  struct Case {
    TIdSSLVersions set;
    TIdSSLVersions stored;
    TIdSSLVersion method;
  };
  const Case cases[] = {
      {63, 61, sslvSSLv23},
      {registry::SslVersionBit(sslvTLSv1_2), registry::SslVersionBit(sslvTLSv1_2), sslvTLSv1_2},
      {registry::SslVersionBit(sslvSSLv23), 61, sslvSSLv23},
      {registry::SslVersionBit(sslvTLSv1_1) | registry::SslVersionBit(sslvTLSv1_2), 48, sslvSSLv23},
  };
  for (const Case& c : cases) {
    registry::SslOptions options;
    options.SetSSLVersions(c.set);
    EXPECT_EQ(options.SSLVersions(), c.stored) << int(c.set);
    EXPECT_EQ(options.Method(), c.method) << int(c.set);
  }
}

TEST(RegistryRequest, ExactBytesOnTheWire) {
  TlsTestServer server(Answer("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}"));
  EXPECT_EQ(Query(server, "01234567890", "secret-token"), "{}");
  EXPECT_EQ(server.Request(),
            "GET /base/01234567890 HTTP/1.1\r\n"
            "Accept: application/json\r\n"
            "Authorization: Bearer secret-token\r\n"
            "Host: localhost:" +
                std::to_string(server.Port()) +
                "\r\n"
                "User-Agent: " +
                kUserAgent +
                "\r\n"
                "\r\n");
}

// One client asked twice makes each request afresh: the second sends its Accept and
// Authorization once, as the first did, on a connection of its own.
TEST(RegistryRequest, AClientAskedTwiceSendsEachHeaderOnce) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
  TlsTestServer first(Answer(ok));
  TlsTestServer second(Answer(ok));
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port()}});
  registry::RegistryEndpoint endpoint(first.Url("/base/"));
  endpoint.proxy = registry::ParseProxyUrl("127.0.0.1:" + std::to_string(proxy.Port()));
  registry::RegistryClient client(endpoint);
  EXPECT_EQ(testing::OutcomeOf([&] { return client.InterrogaRegistro("01234567890", "first-token"); }), "{}");
  EXPECT_EQ(testing::OutcomeOf([&] { return client.InterrogaRegistro("09876543210", "second-token"); }), "{}");
  const auto request = [&](const std::string& piva, const std::string& token) {
    return "GET /base/" + piva + " HTTP/1.1\r\nAccept: application/json\r\nAuthorization: Bearer " + token +
           "\r\nHost: localhost:" + std::to_string(first.Port()) + "\r\nUser-Agent: " + kUserAgent + "\r\n\r\n";
  };
  EXPECT_EQ(first.Request(), request("01234567890", "first-token"));
  EXPECT_EQ(second.Request(), request("09876543210", "second-token"));
}

// The wait an answer asks for belongs to that answer only: the next request's answer, without one,
// asks for none.
TEST(RegistryRequest, TheLastAnswersRetryAfterIsKeptAlsoWhenItsStatusFails) {
  TlsTestServer busy(Answer("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 7\r\nContent-Length: 0\r\n\r\n"));
  TlsTestServer ready(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"));
  testing::ConnectProxy proxy({.upstreamPorts = {busy.Port(), ready.Port()}});
  registry::RegistryEndpoint endpoint(busy.Url("/base/"));
  endpoint.proxy = registry::ParseProxyUrl("127.0.0.1:" + std::to_string(proxy.Port()));
  registry::RegistryClient client(endpoint);
  EXPECT_EQ(client.LastRetryAfter(), std::nullopt);
  EXPECT_EQ(testing::OutcomeOf([&] { return client.InterrogaRegistro("01234567890", "t"); }),
            "error: HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(client.LastRetryAfter(), std::chrono::seconds(7));
  EXPECT_EQ(testing::OutcomeOf([&] { return client.InterrogaRegistro("01234567890", "t"); }), "{}");
  EXPECT_EQ(client.LastRetryAfter(), std::nullopt);
}

TEST(RegistryRequest, UnusualVatNumbersAndTokens) {
  struct Case {
    std::string piva;
    std::string token;
    std::string requestLine;
    std::string authorization;
  };
  const Case cases[] = {
      {"0123", "t\xC3\xA8st", "GET /base/0123 HTTP/1.1", "Authorization: Bearer t?st"},
      {"01#23?x", "t", "GET /base/01 HTTP/1.1", "Authorization: Bearer t"},
      {"01\\23", "t", "GET /base/01/23 HTTP/1.1", "Authorization: Bearer t"},
      {"01 23%", "t", "GET /base/01 23% HTTP/1.1", "Authorization: Bearer t"},
  };
  for (const Case& c : cases) {
    TlsTestServer server(Answer("HTTP/1.1 204 No Content\r\n\r\n"));
    EXPECT_EQ(Query(server, c.piva, c.token), "");
    const std::string request = server.Request();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), c.requestLine) << c.piva;
    EXPECT_NE(request.find("\r\n" + c.authorization + "\r\n"), std::string::npos) << request;
  }
}

TEST(RegistryRequest, ScriptedAnswers) {
  struct Case {
    const char* name;
    std::vector<Step> script;
    std::string expected;
  };
  const std::string aGrave = "\xC3\xA0";
  const std::string head200 = "HTTP/1.1 200 OK\r\n";
  const std::string filler(300, 'x');
  const Case cases[] = {
      {"json with charset",
       Answer(head200 + "Content-Type: application/json; charset=utf-8\r\nContent-Length: 2\r\n\r\n" + aGrave), aGrave},
      {"json without charset", Answer(head200 + "Content-Type: application/json\r\nContent-Length: 2\r\n\r\n" + aGrave),
       aGrave},
      {"text/plain", Answer(head200 + "Content-Type: text/plain\r\nContent-Length: 2\r\n\r\n" + aGrave),
       "\xC3\x83\xC2\xA0"},
      {"text/xml", Answer(head200 + "Content-Type: text/xml\r\nContent-Length: 2\r\n\r\n" + aGrave),
       "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"204", Answer("HTTP/1.1 204 No Content\r\n\r\n"), ""},
      {"100 then 200", Answer("HTTP/1.1 100 Continue\r\n\r\n" + head200 + "Content-Length: 4\r\n\r\nbody"), "body"},
      {"302", Answer("HTTP/1.1 302 Found\r\nLocation: https://localhost/elsewhere\r\nContent-Length: 0\r\n\r\n"),
       "error: HTTP/1.1 302 Found"},
      {"401 bearer",
       Answer("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Bearer realm=\"api\"\r\nContent-Length: 2\r\n\r\nno"),
       "error: HTTP/1.1 401 Unauthorized"},
      {"404", Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"), "error: HTTP/1.1 404 Not Found"},
      {"chunked with extension",
       Answer(head200 + "Transfer-Encoding: chunked\r\n\r\n1a;ext\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n"),
       "abcdefghijklmnopqrstuvwxyz"},
      {"length 500 closed after 300", Answer(head200 + "Content-Length: 500\r\n\r\n" + filler), filler},
      {"read to close",
       {TlsTestServer::ExpectRequest(), TlsTestServer::Send(head200 + "\r\npart one, "), TlsTestServer::Pause(50),
        TlsTestServer::Send("part two"), TlsTestServer::Close()},
       "part one, part two"},
      {"read to a close without alert",
       {TlsTestServer::ExpectRequest(), TlsTestServer::Send(head200 + "\r\nall"), TlsTestServer::Drop()},
       "all"},
      {"close right after the handshake", {TlsTestServer::Close()}, "error: Connection Closed Gracefully."},
      {"drop right after the handshake", {TlsTestServer::Drop()}, "error: Connection Closed Gracefully."},
      {"over-long header line", Answer(head200 + "X-Long: " + std::string(17000, 'a') + "\r\n\r\n"),
       "error: Max line length exceeded."},
  };
  for (const Case& c : cases) {
    TlsTestServer server(c.script);
    EXPECT_EQ(QueryOnNewConnection(server), c.expected) << c.name;
  }
}

TEST(RegistryRequest, ConnectionCloseIsHonouredRightAfterTheBody) {
  TlsTestServer server({TlsTestServer::ExpectRequest(),
                        TlsTestServer::Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"),
                        TlsTestServer::ExpectPeerClose()});
  TIdSSLIOHandlerSocketOpenSSL handler;
  handler.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
  TIdHTTP client;
  client.IOHandler = &handler;
  EXPECT_EQ(client.Get(server.Url("/base/1")), "ok");
  // The client and its handler are still alive: only the header can have closed the connection.
  EXPECT_TRUE(server.WaitFinished(5000));
  EXPECT_TRUE(server.PeerClosed());
  EXPECT_FALSE(handler.Connected());
}

// An HTTP/1.1 answer that lets the connection stay carries the next request too; an HTTP/1.0 one
// does not, and a failed connect after it shows no status of its own.
TEST(RegistryRequest, TheConnectionIsKeptForTheNextRequestWhereTheServerAllows) {
  const std::string ok11 = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  TlsTestServer server({TlsTestServer::ExpectRequest(), TlsTestServer::Send(ok11), TlsTestServer::ExpectRequest(),
                        TlsTestServer::Send(ok11), TlsTestServer::ExpectPeerClose()});
  TIdSSLIOHandlerSocketOpenSSL handler;
  handler.settings.sslOptions.SetSSLVersions(registry::kAllSslVersions);
  TIdHTTP client;
  client.IOHandler = &handler;
  EXPECT_EQ(client.Get(server.Url("/base/1")), "ok");
  EXPECT_TRUE(handler.Connected());
  // The server serves one connection: the second answer can only come on the first connection.
  EXPECT_EQ(client.Get(server.Url("/base/2")), "ok");
  handler.Close();
  EXPECT_TRUE(server.WaitFinished(5000));
  EXPECT_TRUE(server.PeerClosed());

  TlsTestServer old({TlsTestServer::ExpectRequest(),
                     TlsTestServer::Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"),
                     TlsTestServer::ExpectPeerClose()});
  EXPECT_EQ(client.Get(old.Url("/base/1")), "ok");
  EXPECT_EQ(client.ResponseCode, 200);
  EXPECT_FALSE(handler.Connected());
  const int closed = loopback::Listener().Port();  // listened on, now closed: nobody accepts there
  EXPECT_THROW(client.Get("https://127.0.0.1:" + std::to_string(closed) + "/base/2"), Exception);
  EXPECT_EQ(client.ResponseCode, 0);
  EXPECT_FALSE(client.RequestSent);
}

TEST(TlsChannel, UnverifiedServersNeverSeeTheRequest) {
  struct Case {
    const char* name;
    TlsTestServer::Certificate certificate;
    const char* host;
  };
  const Case cases[] = {
      {"untrusted CA", TlsTestServer::Certificate::UntrustedCa, "localhost"},
      {"certificate for another name", TlsTestServer::Certificate::OtherName, "localhost"},
      {"name certificate reached by address", TlsTestServer::Certificate::OtherName, "127.0.0.1"},
  };
  for (const Case& c : cases) {
    TlsTestServer::Options options;
    options.certificate = c.certificate;
    TlsTestServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"), options);
    const std::string outcome = Query(server, "01234567890", "secret-token", c.host);
    EXPECT_EQ(outcome.rfind("error: Error connecting with SSL.\r\nerror:", 0), 0u) << c.name << ": " << outcome;
    EXPECT_NE(outcome.find("certificate verify failed"), std::string::npos) << c.name << ": " << outcome;
    EXPECT_FALSE(server.HandshakeCompleted()) << c.name;
    EXPECT_EQ(server.Request(), "") << c.name;
  }
}

TEST(TlsChannel, TrustedServerByNameAddressAndTls13) {
  {
    TlsTestServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"));
    EXPECT_EQ(Query(server, "1", "t", "127.0.0.1"), "{}");
    EXPECT_NE(server.Request().find("\r\nHost: 127.0.0.1:"), std::string::npos);
  }
  {
    TlsTestServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"));
    EXPECT_EQ(Query(server, "1", "t", "LocalHost"), "{}");
  }
  TlsTestServer::Options tls13;
  tls13.tls13Only = true;
  {
    TlsTestServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"), tls13);
    EXPECT_EQ(Query(server, "1", "t"), "{}");
  }
  {
    // A handler limited to TLS 1.2 cannot meet a server that speaks only 1.3.
    TlsTestServer server({TlsTestServer::ExpectRequest()}, tls13);
    TIdSSLIOHandlerSocketOpenSSL handler;
    handler.settings.sslOptions.SetSSLVersions(registry::SslVersionBit(sslvTLSv1_2));
    TIdHTTP client;
    client.IOHandler = &handler;
    const std::string error = testing::ErrorOf([&] { client.Get(server.Url("/")); });
    EXPECT_EQ(error.rfind("Error connecting with SSL.\r\nerror:", 0), 0u) << error;
  }
}

TEST(TlsChannel, SocketFailures) {
  EXPECT_EQ(GetWithLimit("https://registry.korvane.invalid/base/1", 0),
            "error: Socket Error # 11001\r\nHost not found.");

  const int port = loopback::Listener().Port();  // listened on, now closed: nobody accepts there
  EXPECT_EQ(GetWithLimit("https://127.0.0.1:" + std::to_string(port) + "/", 0),
            "error: Socket Error # 10061\r\nConnection refused.");
}

TEST(TlsChannel, PeerClosingDuringTheHandshake) {
  TlsTestServer::Options bareTcp;
  bareTcp.handshake = false;
  TlsTestServer server({TlsTestServer::Close()}, bareTcp);
  const std::string outcome = GetWithLimit(server.Url("/"), 2000);
  EXPECT_EQ(outcome.rfind("error: Error connecting with SSL.\r\n", 0), 0u) << outcome;
}

TEST(TlsChannel, SilentServersEndAtTheReceiveLimit) {
  TlsTestServer::Options bareTcp;
  bareTcp.handshake = false;
  TlsTestServer silentHandshake({TlsTestServer::StaySilent()}, bareTcp);
  EXPECT_EQ(GetWithLimit(silentHandshake.Url("/"), 200), "error: Socket Error # 10060\r\nConnection timed out.");

  TlsTestServer silentAnswer({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
  EXPECT_EQ(GetWithLimit(silentAnswer.Url("/"), 200), "error: Read timed out.");

  TlsTestServer stalledBody({TlsTestServer::ExpectRequest(),
                             TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
                             TlsTestServer::StaySilent()});
  EXPECT_EQ(GetWithLimit(stalledBody.Url("/"), 200), "error: Read timed out.");
}

}  // namespace
}  // namespace korvane
