#include "registry/IdSSLOpenSSL.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include "platform/Exception.h"
#include "platform/SocketErrors.h"
#include "platform/Text.h"

namespace korvane {

using platform::ESocketError;

namespace {

constexpr std::size_t kReadBufferSize = 32768;
constexpr std::size_t kErrorTextSize = 160;

std::mutex gLibraryLock;
bool gLibraryReady = false;

// Starts the library once per process; a failure is tried again at the next opening.
void StartLibrary() {
  std::lock_guard<std::mutex> lock(gLibraryLock);
  if (gLibraryReady) return;
  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) {
    throw Exception("Could not load SSL library.");
  }
  // A write to a connection the peer has dropped must fail with EPIPE, not end the process.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
  gLibraryReady = true;
}

std::string LibraryErrorText(unsigned long error) {
  char buffer[kErrorTextSize];
  ERR_error_string_n(error, buffer, sizeof buffer);
  return buffer;
}

// Turns a failed TLS call into the error it stands for. This is the one place that reads the
// library's error queue and the socket's errno after a TLS call.
[[noreturn]] void RaiseTlsFailure(const std::string& prefix, SSL* ssl, int result, int savedErrno) {
  auto withPrefix = [&](const std::string& detail) {
    return Exception(prefix.empty() ? detail : prefix + "\r\n" + detail);
  };
  const int errorClass = ssl != nullptr ? SSL_get_error(ssl, result) : SSL_ERROR_SSL;
  if (errorClass == SSL_ERROR_SSL) throw withPrefix(LibraryErrorText(ERR_get_error()));
  if (errorClass == SSL_ERROR_SYSCALL) {
    if (const unsigned long queued = ERR_get_error(); queued != 0) throw withPrefix(LibraryErrorText(queued));
    if (result == 0) throw withPrefix("EOF was observed that violates the protocol");
    if (result == -1) throw ESocketError(platform::WsaErrorFromErrno(savedErrno));
  }
  throw withPrefix(LibraryErrorText(static_cast<unsigned long>(errorClass)));
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

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

SSL_CTX* CreateClientContext(const TIdSSLOptions& options) {
  const TIdSSLVersion method = options.Method();
  int singleVersion = 0;
  if (method != sslvSSLv23) {
    singleVersion = ProtocolVersionOf(method);
    if (singleVersion == 0) throw Exception("Error getting SSL method.");
  }
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) throw Exception("Error creating SSL context.\r\n" + LibraryErrorText(ERR_get_error()));
  if (singleVersion != 0) {
    SSL_CTX_set_min_proto_version(context, singleVersion);
    SSL_CTX_set_max_proto_version(context, singleVersion);
  } else {
    for (const ProtocolOption& entry : kProtocolOptions) {
      if ((options.SSLVersions() & SslVersionBit(entry.version)) == 0) {
        SSL_CTX_set_options(context, entry.option);
      } else {
        SSL_CTX_clear_options(context, entry.option);
      }
    }
  }
  SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
  // The server must prove who it is before the bearer token goes out: chain against the
  // system trust store (SSL_CERT_FILE / SSL_CERT_DIR honoured), name checked per connection.
  SSL_CTX_set_default_verify_paths(context);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  ERR_clear_error();
  return context;
}

// Names under the reserved ".invalid" domain never resolve (RFC 6761): no lookup is sent.
bool IsReservedInvalidName(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  const std::string lower = text::LowerCaseAscii(host);
  return lower == "invalid" || lower.ends_with(".invalid");
}

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool isIpLiteral = false;
};

Address ResolveHost(const std::string& host8bit, int port, bool ipv6) {
  Address address;
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET6, host8bit.c_str(), &v6->sin6_addr) != 1) throw ESocketError(platform::kWsaHostNotFound);
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    address.length = sizeof(sockaddr_in6);
    address.isIpLiteral = true;
    return address;
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
  v4->sin_family = AF_INET;
  v4->sin_port = htons(static_cast<std::uint16_t>(port));
  address.length = sizeof(sockaddr_in);
  if (text::SameTextAscii(host8bit, "LOCALHOST")) {
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  if (inet_pton(AF_INET, host8bit.c_str(), &v4->sin_addr) == 1) {
    address.isIpLiteral = true;
    return address;
  }
  if (IsReservedInvalidName(host8bit)) throw ESocketError(platform::kWsaHostNotFound);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host8bit.c_str(), nullptr, &hints, &found);
  if (result != 0) throw ESocketError(platform::WsaErrorFromLookup(result, errno));
  if (found == nullptr || found->ai_addr == nullptr) {
    if (found != nullptr) freeaddrinfo(found);
    throw ESocketError(platform::kWsaHostNotFound);
  }
  v4->sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return address;
}

}  // namespace

void TIdSSLOptions::SetSSLVersions(TIdSSLVersions versions) {
  constexpr TIdSSLVersion kSingles[] = {sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2};
  for (TIdSSLVersion single : kSingles) {
    if (versions == SslVersionBit(single)) {
      versions_ = versions;
      method_ = single;
      return;
    }
  }
  method_ = sslvSSLv23;
  versions_ = versions;
  if ((versions & SslVersionBit(sslvSSLv23)) != 0) {
    versions_ = static_cast<TIdSSLVersions>(versions & ~SslVersionBit(sslvSSLv23));
    if (versions_ == 0) versions_ = 61;
  }
}

// One open connection: the socket, its context and TLS object, released together.
struct TIdSSLIOHandlerSocketOpenSSL::Connection {
  int socket = -1;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  bool handshakeDone = false;
  bool peerClosed = false;

  ~Connection() {
    if (ssl != nullptr) {
      if (handshakeDone) SSL_shutdown(ssl);  // the close alert, once; the peer's is not awaited
      SSL_free(ssl);
    }
    if (context != nullptr) SSL_CTX_free(context);
    if (socket >= 0) ::close(socket);
    ERR_clear_error();
  }
};

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL() = default;

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() { Close(); }

bool TIdSSLIOHandlerSocketOpenSSL::Connected() const { return connection_ != nullptr; }

void TIdSSLIOHandlerSocketOpenSSL::Open(const std::string& host, int port, bool ipv6) {
  Close();
  StartLibrary();
  auto connection = std::make_unique<Connection>();
  connection->context = CreateClientContext(SSLOptions);

  const std::string host8bit = text::Utf8ToCp1252(host);
  const Address address = ResolveHost(host8bit, port, ipv6);

  connection->socket = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connection->socket < 0) throw ESocketError(platform::WsaErrorFromErrno(errno, false));
  if (::connect(connection->socket, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
    throw ESocketError(platform::WsaErrorFromErrno(errno, false));
  }
  const int limitMs = ReadTimeout > 0 ? ReadTimeout : kDefaultSocketTimeoutMs;
  timeval limit{};
  limit.tv_sec = limitMs / 1000;
  limit.tv_usec = static_cast<suseconds_t>((limitMs % 1000) * 1000);
  setsockopt(connection->socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(connection->socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

  ERR_clear_error();
  connection->ssl = SSL_new(connection->context);
  if (connection->ssl == nullptr) throw Exception("Error creating SSL session.");
  SSL* ssl = connection->ssl;
  if (int result = SSL_set_ex_data(ssl, 0, this); result < 1) {
    RaiseTlsFailure("Error binding data to SSL socket.", ssl, result, errno);
  }
  if (int result = SSL_set_fd(ssl, connection->socket); result < 1) {
    RaiseTlsFailure("Error setting File Descriptor for SSL", ssl, result, errno);
  }
  SSL_set_tlsext_host_name(ssl, host8bit.c_str());
  ERR_clear_error();
  if (address.isIpLiteral) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host8bit.c_str());
  } else {
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(ssl, host8bit.c_str());
  }

  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(ssl);
    const int savedErrno = errno;
    if (result == 1) break;
    const int errorClass = SSL_get_error(ssl, result);
    if (errorClass == SSL_ERROR_WANT_READ || errorClass == SSL_ERROR_WANT_WRITE) {
      // On a blocking socket only the receive or send limit running out asks to retry.
      if (WouldBlock(savedErrno)) throw ESocketError(platform::kWsaTimedOut);
      continue;
    }
    RaiseTlsFailure("Error connecting with SSL.", ssl, result, savedErrno);
  }
  connection->handshakeDone = true;
  // Once the session stands, a peer that drops the socket without a close alert has simply
  // closed the connection; the HTTP framing decides whether the answer was complete.
  SSL_set_options(ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
  connection_ = std::move(connection);
}

void TIdSSLIOHandlerSocketOpenSSL::Write(std::string_view bytes) {
  if (!connection_) throw Exception("Not Connected");
  SSL* ssl = connection_->ssl;
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write(ssl, bytes.data(), chunk);
    const int savedErrno = errno;
    if (result > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(result));
      continue;
    }
    const int errorClass = SSL_get_error(ssl, result);
    if (errorClass == SSL_ERROR_WANT_READ || errorClass == SSL_ERROR_WANT_WRITE) {
      if (WouldBlock(savedErrno)) throw ESocketError(platform::kWsaTimedOut);
      continue;
    }
    RaiseTlsFailure("", ssl, result, savedErrno);
  }
}

std::size_t TIdSSLIOHandlerSocketOpenSSL::Read(char* buffer, std::size_t size) {
  if (!connection_) throw Exception("Not Connected");
  if (connection_->peerClosed || size == 0) return 0;
  SSL* ssl = connection_->ssl;
  const int wanted = static_cast<int>(std::min(size, kReadBufferSize));
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_read(ssl, buffer, wanted);
    const int savedErrno = errno;
    if (result > 0) return static_cast<std::size_t>(result);
    const int errorClass = SSL_get_error(ssl, result);
    if (errorClass == SSL_ERROR_ZERO_RETURN) {
      connection_->peerClosed = true;
      return 0;
    }
    if (errorClass == SSL_ERROR_WANT_READ || errorClass == SSL_ERROR_WANT_WRITE) {
      if (WouldBlock(savedErrno)) throw ESocketError(platform::kWsaTimedOut);
      continue;
    }
    RaiseTlsFailure("", ssl, result, savedErrno);
  }
}

bool TIdSSLIOHandlerSocketOpenSSL::WaitForData(int milliseconds) {
  if (!connection_ || connection_->peerClosed || SSL_pending(connection_->ssl) > 0) return true;
  pollfd entry{connection_->socket, POLLIN, 0};
  return ::poll(&entry, 1, milliseconds) > 0;
}

void TIdSSLIOHandlerSocketOpenSSL::Close() noexcept { connection_.reset(); }

}  // namespace korvane
