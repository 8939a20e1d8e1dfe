#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <fstream>
#include <string>

#include "ChannelGet.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

// A system configuration that lets the library's defaults go down to TLS 1.0, any suite and
// any key size.
constexpr const char* kPermissiveConfiguration =
    "openssl_conf = openssl_init\n"
    "[openssl_init]\n"
    "ssl_conf = ssl_configuration\n"
    "[ssl_configuration]\n"
    "system_default = permissive\n"
    "[permissive]\n"
    "MinProtocol = TLSv1\n"
    "CipherString = DEFAULT@SECLEVEL=0\n";

std::vector<TlsTestServer::Step> Answer() {
  return {TlsTestServer::ExpectRequest(), TlsTestServer::Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"),
          TlsTestServer::Close()};
}

// The server is weak on purpose; the client runs in a child process whose library started with
// the permissive configuration, once with the library's defaults (which must get through, or
// the case proves nothing) and once through the registry's channel.
TEST(TlsFloor, HoldsWhateverTheSystemConfigurationAllows) {
  struct Case {
    const char* name;
    int onlyVersion;
    const char* cipherList;
    TlsTestServer::Certificate certificate;
    bool channelAccepts;
  };
  const Case cases[] = {
      {"TLS 1.0 only", TLS1_VERSION, "", TlsTestServer::Certificate::Trusted, false},
      {"TLS 1.1 only", TLS1_1_VERSION, "", TlsTestServer::Certificate::Trusted, false},
      {"TLS 1.2 with a CBC-SHA suite only", TLS1_2_VERSION, "ECDHE-ECDSA-AES128-SHA",
       TlsTestServer::Certificate::Trusted, false},
      {"1024-bit RSA key", 0, "", TlsTestServer::Certificate::WeakKey, false},
      {"TLS 1.2 with ECDHE and AES-GCM", TLS1_2_VERSION, "ECDHE-ECDSA-AES128-GCM-SHA256",
       TlsTestServer::Certificate::Trusted, true},
      {"TLS 1.2 with ECDHE and ChaCha20-Poly1305", TLS1_2_VERSION, "ECDHE-ECDSA-CHACHA20-POLY1305",
       TlsTestServer::Certificate::Trusted, true},
  };
  testing::TempDir work;
  std::ofstream(work.File("permissive.cnf")) << kPermissiveConfiguration;
  testing::TestCertificates::Get().WriteCaPem(work.File("ca.pem"));
  const std::map<std::string, std::string> environment = {{"OPENSSL_CONF", work.File("permissive.cnf")},
                                                          {"SSL_CERT_FILE", work.File("ca.pem")},
                                                          {"SSL_CERT_DIR", work.File("no-folder")}};
  for (const Case& c : cases) {
    TlsTestServer::Options options;
    options.onlyVersion = c.onlyVersion;
    options.cipherList = c.cipherList;
    options.certificate = c.certificate;
    {
      TlsTestServer server(Answer(), options);
      const auto control =
          testing::RunProgram(KORVANE_TLS_PROBE, {"library", std::to_string(server.Port())}, environment);
      EXPECT_EQ(control.out.rfind("handshake ", 0), 0u) << c.name << ": " << control.out << control.err;
    }
    TlsTestServer server(Answer(), options);
    const auto channel = testing::RunProgram(KORVANE_TLS_PROBE, {"channel", server.Url("/base/1")}, environment);
    if (c.channelAccepts) {
      EXPECT_EQ(channel.out, "{}") << c.name << ": " << channel.err;
    } else {
      EXPECT_EQ(channel.out.rfind("error: Error connecting with SSL.\r\nerror:", 0), 0u)
          << c.name << ": " << channel.out;
      EXPECT_EQ(server.Request(), "") << c.name;
    }
  }
}

// The version set still chooses, among the versions from TLS 1.2 up; a set that leaves none
// fails the handshake.
TEST(TlsFloor, VersionSetChoosesAboveTheFloor) {
  struct Case {
    TIdSSLVersions versions;
    std::string expected;
  };
  const std::string noVersion =
      "error: Error connecting with SSL.\r\nerror:0A0000BF:SSL routines::no protocols available";
  const Case cases[] = {
      {registry::SslVersionBit(sslvTLSv1), noVersion},
      {registry::SslVersionBit(sslvTLSv1_1), noVersion},
      {registry::SslVersionBit(sslvTLSv1) | registry::SslVersionBit(sslvTLSv1_1),
       "{}"},  // TLS 1.3 is never switched off
      {registry::SslVersionBit(sslvTLSv1_2), "{}"},
      {registry::kAllSslVersions, "{}"},
  };
  for (const Case& c : cases) {
    TlsTestServer server(Answer());
    const std::string outcome = testing::GetThroughChannel(
        server.Url("/base/1"),
        [&](TIdSSLIOHandlerSocketOpenSSL& handler) { handler.settings.sslOptions.SetSSLVersions(c.versions); });
    EXPECT_EQ(outcome, c.expected) << int(c.versions);
  }
}

}  // namespace
}  // namespace korvane
