#include "registry/TlsConnection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <utility>

#include "platform/CodePages.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/SocketErrors.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"
#include "registry/ProxyTunnel.h"
#include "registry/TrustStore.h"

namespace korvane {

using platform::SocketError;

namespace {

constexpr std::size_t kErrorTextSize = 160;

// The floor of every connection, set in code so that no system configuration can lower it:
// TLS 1.2 at least, security level 2, and for TLS 1.2 only forward-secret AEAD suites. The
// TLS 1.3 suites are the library's own defaults.
constexpr int kLowestProtocol = TLS1_2_VERSION;
constexpr int kSecurityLevel = 2;
constexpr const char* kTls12Suites = "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL:!PSK";

std::mutex gLibraryLock;
bool gLibraryReady = false;

// The library with its error texts, which the channel's messages carry. Its state is not torn
// down when the process ends: a preparing thread left to end by itself (a trust-store file that
// never opens) may wake inside the library while the exit handlers run, and must find it whole.
constexpr std::uint64_t kLibraryOptions =
    OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT;

// Starts the library once per process; a failure is tried again at the next opening.
void StartLibrary() {
  std::lock_guard<std::mutex> lock(gLibraryLock);
  if (gLibraryReady) return;
  if (OPENSSL_init_ssl(kLibraryOptions, nullptr) != 1) {
    throw Exception("Could not load SSL library.");
  }
  // A write to a connection the peer has dropped must fail with EPIPE, not end the process.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
  gLibraryReady = true;
}

// The host as the name lookup and the TLS library take it: 8-bit text in the platform's code
// page, which on this build is Windows-1252. A name that code page cannot hold matches no
// certificate anyway; an international name is given in its ASCII form.
std::string HostNameBytes(const std::string& host) { return platform::Utf8ToCp1252(host); }

// The oldest error in the library's queue, 0 when there is none. The one place that reads it.
unsigned long TakeQueuedError() { return ERR_get_error(); }

// Read as the library's 8-bit text; a control character in it is shown as "?", as in every message.
std::string LibraryErrorText(unsigned long error) {
  char buffer[kErrorTextSize];
  ERR_error_string_n(error, buffer, sizeof buffer);
  return platform::TextForMessage(platform::SanitizeUtf8(buffer));
}

// Turns a failed TLS call, with its error class and the socket error saved right after it,
// into the error it stands for.
[[noreturn]] void RaiseTlsFailure(std::string_view prefix, int errorClass, int result, int socketError) {
  auto withPrefix = [&](const std::string& detail) {
    return Exception(prefix.empty() ? detail : std::string(prefix) + "\r\n" + detail);
  };
  if (errorClass == SSL_ERROR_SSL) throw withPrefix(LibraryErrorText(TakeQueuedError()));
  if (errorClass == SSL_ERROR_SYSCALL) {
    if (const unsigned long queued = TakeQueuedError(); queued != 0) throw withPrefix(LibraryErrorText(queued));
    if (result == 0) throw withPrefix("EOF was observed that violates the protocol");
    if (result == -1) throw SocketError(socketError);
  }
  throw withPrefix(LibraryErrorText(static_cast<unsigned long>(errorClass)));
}

// For a call outside the handshake and the transfer (binding the TLS object).
[[noreturn]] void RaiseSetupFailure(std::string_view prefix, SSL* ssl, int result) {
  RaiseTlsFailure(prefix, SSL_get_error(ssl, result), result, registry::LastSocketError());
}

struct ProtocolOption {
  TIdSSLVersion version;
  std::uint64_t option;
};

// The versions whose library option follows the version set; TLS 1.3 is never switched off.
constexpr ProtocolOption kProtocolOptions[] = {
#ifndef OPENSSL_NO_SSL3_METHOD
    {sslvSSLv3, SSL_OP_NO_SSLv3},
#endif
    {sslvTLSv1, SSL_OP_NO_TLSv1},
    {sslvTLSv1_1, SSL_OP_NO_TLSv1_1},
    {sslvTLSv1_2, SSL_OP_NO_TLSv1_2},
};

int ProtocolVersionOf(TIdSSLVersion version) {
  switch (version) {
#ifndef OPENSSL_NO_SSL3_METHOD
    case sslvSSLv3: return SSL3_VERSION;
#endif
    case sslvTLSv1: return TLS1_VERSION;
    case sslvTLSv1_1: return TLS1_1_VERSION;
    case sslvTLSv1_2: return TLS1_2_VERSION;
    default: return 0;
  }
}

registry::SslContext CreateClientContext(const registry::SslOptions& options) {
  registry::CheckTrustStorePaths();
  const TIdSSLVersion method = options.Method();
  int singleVersion = 0;
  if (method != sslvSSLv23) {
    singleVersion = ProtocolVersionOf(method);
    if (singleVersion == 0) throw Exception("Error getting SSL method.");
  }
  ERR_clear_error();
  registry::SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) throw Exception("Error creating SSL context.\r\n" + LibraryErrorText(TakeQueuedError()));
  SSL_CTX* raw = context.get();
  // SSL_CTX_new has applied the system configuration; everything below overrides it. A single
  // version under the floor leaves no version at all, and the handshake fails.
  SSL_CTX_set_min_proto_version(raw, std::max(singleVersion, kLowestProtocol));
  SSL_CTX_set_max_proto_version(raw, singleVersion);  // 0: the newest the library has
  if (singleVersion == 0) {
    for (const ProtocolOption& entry : kProtocolOptions) {
      if ((options.SSLVersions() & registry::SslVersionBit(entry.version)) == 0) {
        SSL_CTX_set_options(raw, entry.option);
      } else {
        SSL_CTX_clear_options(raw, entry.option);
      }
    }
    SSL_CTX_clear_options(raw, SSL_OP_NO_TLSv1_3);
  }
  SSL_CTX_set_security_level(raw, kSecurityLevel);
  if (SSL_CTX_set_cipher_list(raw, kTls12Suites) != 1 ||
      SSL_CTX_set_ciphersuites(raw, OSSL_default_ciphersuites()) != 1) {
    throw Exception("SetCipher failed.");
  }
  SSL_CTX_set_mode(raw, SSL_MODE_AUTO_RETRY);
  // The server must prove who it is before the bearer token goes out: chain against the
  // system trust store, name checked per connection.
  registry::UseTrustStoreOnDemand(raw);
  SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
  ERR_clear_error();
  return context;
}

}  // namespace

namespace registry {

SSL_CTX* ClientContext::Get() {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!context_) context_ = CreateClientContext(options_);
  return context_.get();
}

TlsConnection::~TlsConnection() {
  // The close alert, once; the peer's is not awaited, and on the non-blocking socket nothing waits.
  if (handshakeDone) SSL_shutdown(ssl.get());
  ERR_clear_error();
}

int TlsConnection::Run(std::string_view failurePrefix, bool closeEndsData, const std::function<int(SSL*)>& call) {
  for (;;) {
    const WaitBudget budget = deadline.BudgetFor(stepLimitMs);
    ERR_clear_error();
    errno = 0;  // a failed system call inside the library sets it again
    const int result = call(ssl.get());
    if (result > 0) return result;
    const int socketError = LastSocketError();
    const int errorClass = SSL_get_error(ssl.get(), result);
    if (errorClass == SSL_ERROR_ZERO_RETURN && closeEndsData) return 0;
    if (errorClass == SSL_ERROR_WANT_READ || errorClass == SSL_ERROR_WANT_WRITE) {
      const short events = errorClass == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
      if (!WaitForSocket(socket.Handle(), events, budget, wakeFd)) throw SocketError(platform::kWsaTimedOut);
      continue;
    }
    RaiseTlsFailure(failurePrefix, errorClass, result, socketError);
  }
}

bool TlsConnection::StillOpen() {
  if (peerClosed) return false;
  char byte = 0;
  ERR_clear_error();
  const int result = SSL_peek(ssl.get(), &byte, 1);
  const int errorClass = result > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl.get(), result);
  ERR_clear_error();
  return errorClass == SSL_ERROR_NONE || errorClass == SSL_ERROR_WANT_READ || errorClass == SSL_ERROR_WANT_WRITE;
}

namespace {

std::string NameText(const X509_NAME* name) {
  if (name == nullptr) return "?";
  char text[256];
  X509_NAME_oneline(name, text, sizeof text);
  return text;
}

// What the handshake settled, or where it stopped: for whoever supports an installation.
void TraceHandshake(SSL* ssl, const Exception* failure) {
  const long verification = SSL_get_verify_result(ssl);
  const std::string verified = std::string("certificate verification: ") + X509_verify_cert_error_string(verification);
  if (failure != nullptr) {
    platform::trace::Step("TLS handshake failed: " + failure->Message() + "; " + verified);
    return;
  }
  platform::trace::Step(std::string("TLS ") + SSL_get_version(ssl) + ", " + SSL_get_cipher_name(ssl));
  X509* peer = SSL_get1_peer_certificate(ssl);
  if (peer != nullptr) {
    platform::trace::Step("server certificate: " + NameText(X509_get_subject_name(peer)) + ", issued by " +
                          NameText(X509_get_issuer_name(peer)));
    X509_free(peer);
  }
  platform::trace::Step(verified);
}

// Runs one step of opening the channel; a failure is traced with the step's name before it goes
// on up (a channel given up is no failure).
template <typename Name, typename Step>
void TracedStep(Name name, Step step) {
  try {
    step();
  } catch (const Exception& error) {
    if (platform::trace::On()) platform::trace::Step(name() + " failed: " + error.Message());
    throw;
  }
}

}  // namespace

std::unique_ptr<TlsConnection> OpenTlsConnection(const ChannelTarget& target, const ChannelSettings& settings,
                                                 const Deadline& deadline, int wakeFd, const LibraryGate& gate) {
  auto enter = [&] {
    if (gate.enter) gate.enter();
  };
  auto leave = [&] {
    if (gate.leave) gate.leave();
  };
  enter();
  StartLibrary();
  auto connection = std::make_unique<TlsConnection>(deadline, settings.stepLimitMs, wakeFd);
  const std::shared_ptr<ClientContext> context =
      settings.context ? settings.context : std::make_shared<ClientContext>(settings.sslOptions);
  SSL_CTX* sslContext = context->Get();
  leave();

  const std::string host8bit = HostNameBytes(target.host);
  const std::string authority = (target.ipv6 ? "[" + host8bit + "]" : host8bit) + ":" + std::to_string(target.port);
  if (settings.proxy) {
    const Proxy& proxy = *settings.proxy;
    TracedStep([&] { return "connect to the proxy " + proxy.Authority(); },
               [&] {
                 const SocketAddress address = ResolveHost(proxy.host, proxy.port, proxy.ipv6, deadline);
                 enter();
                 connection->socket = ConnectTcp(address, deadline, settings.connectLimitMs, wakeFd);
               });
    platform::trace::Step("connected to the proxy " + proxy.Authority());
    TracedStep([&] { return "tunnel to " + authority; },
               [&] {
                 OpenProxyTunnel(connection->socket.Handle(), proxy, authority, deadline, settings.stepLimitMs, wakeFd);
               });
    platform::trace::Step("tunnel open to " + authority);
  } else {
    TracedStep([&] { return "connect to " + authority; },
               [&] {
                 const SocketAddress address = ResolveHost(host8bit, target.port, target.ipv6, deadline);
                 enter();
                 connection->socket = ConnectTcp(address, deadline, settings.connectLimitMs, wakeFd);
               });
    platform::trace::Step("connected to " + host8bit + ":" + std::to_string(target.port));
  }

  ERR_clear_error();
  connection->ssl.reset(SSL_new(sslContext));
  if (!connection->ssl) throw Exception("Error creating SSL session.");
  SSL* ssl = connection->ssl.get();
  // Nothing reads it back; the handler's setup binds it, and its failure has a message of its own.
  if (int result = SSL_set_ex_data(ssl, 0, connection.get()); result < 1) {
    RaiseSetupFailure("Error binding data to SSL socket.", ssl, result);
  }
  if (int result = SSL_set_fd(ssl, connection->socket.Handle()); result < 1) {
    RaiseSetupFailure("Error setting File Descriptor for SSL", ssl, result);
  }
  SSL_set_tlsext_host_name(ssl, host8bit.c_str());
  ERR_clear_error();
  // "LOCALHOST" is a name for the certificate, though it is never looked up.
  if (IsAddressLiteral(host8bit, target.ipv6)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host8bit.c_str());
  } else {
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(ssl, host8bit.c_str());
  }

  try {
    connection->Run("Error connecting with SSL.", false, SSL_connect);
  } catch (const Exception& error) {
    if (platform::trace::On()) TraceHandshake(ssl, &error);
    throw;
  }
  connection->handshakeDone = true;
  if (platform::trace::On()) TraceHandshake(ssl, nullptr);
  // Once the session stands, a peer that drops the socket without a close alert has simply
  // closed the connection; the HTTP framing decides whether the answer was complete.
  SSL_set_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
  leave();
  return connection;
}

}  // namespace registry

}  // namespace korvane
