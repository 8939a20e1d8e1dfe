#include "support/TlsTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>

#include "certificates/OpenSslHandles.h"
#include "support/TestCertificates.h"

namespace korvane::testing {

namespace {

using Clock = std::chrono::steady_clock;

certificates::SslContextPtr ServerContext(const TlsTestServer::Options& options) {
  const TestCertificates& certificates = TestCertificates::Get();
  const TestIdentity& identity = options.certificate == TlsTestServer::Certificate::UntrustedCa ? certificates.untrusted
                                 : options.certificate == TlsTestServer::Certificate::OtherName ? certificates.otherName
                                 : options.certificate == TlsTestServer::Certificate::ViaIntermediate
                                     ? certificates.viaIntermediate
                                 : options.certificate == TlsTestServer::Certificate::WeakKey ? certificates.weakKey
                                                                                              : certificates.server;
  certificates::SslContextPtr owner(SSL_CTX_new(TLS_server_method()));
  SSL_CTX* context = owner.get();
  if (context == nullptr) throw std::runtime_error("test server: SSL_CTX_new");
  if (options.tls13Only) SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
  if (options.onlyVersion != 0) {
    SSL_CTX_set_min_proto_version(context, options.onlyVersion);
    SSL_CTX_set_max_proto_version(context, options.onlyVersion);
  }
  if (options.onlyVersion != 0 || !options.cipherList.empty() ||
      options.certificate == TlsTestServer::Certificate::WeakKey) {
    SSL_CTX_set_security_level(context, 0);
  }
  if (!options.cipherList.empty() && SSL_CTX_set_cipher_list(context, options.cipherList.c_str()) != 1) {
    throw std::runtime_error("test server: cipher list");
  }
  if (!certificates::UseIdentity(context, identity)) throw std::runtime_error("test server: certificate");
  return owner;
}

// Waits until the socket is readable or the deadline passes. Once the server is told to stop it
// waits no longer, but still says whether the socket is readable now: what a client sent before
// it went away is read, never lost.
bool WaitReadable(int socket, Clock::time_point deadline, const std::atomic<bool>& stop) {
  while (true) {
    const bool lastLook = stop || Clock::now() >= deadline;
    pollfd entry{socket, POLLIN, 0};
    if (::poll(&entry, 1, lastLook ? 0 : 20) > 0) return true;
    if (lastLook) return false;
  }
}

}  // namespace

TlsTestServer::TlsTestServer(std::vector<Step> script, Options options)
    : script_(std::move(script)), options_(options) {
  if (options_.handshake) TestCertificates::Get();  // made before the clock of the thread runs
  // A write to a client that has gone must fail, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  thread_ = std::thread([this] { Serve(); });
}

TlsTestServer::~TlsTestServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string TlsTestServer::Url(const std::string& path, const std::string& host) const {
  return "https://" + host + ":" + std::to_string(Port()) + path;
}

void TlsTestServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool TlsTestServer::Connected() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (accepted_) return true;
  }
  pollfd entry{listener_.Handle(), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

bool TlsTestServer::WaitFinished(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return finished_; });
}

std::string TlsTestServer::Request() {
  WaitFinished(options_.lifetimeMs);
  std::lock_guard<std::mutex> lock(mutex_);
  return request_;
}

bool TlsTestServer::WaitForRequest(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  finishedSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return requestComplete_ || finished_; });
  return requestComplete_;
}

bool TlsTestServer::WaitForConnection(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return accepted_; });
}

bool TlsTestServer::WaitForHandshake(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  finishedSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return handshakeCompleted_ || finished_; });
  return handshakeCompleted_;
}

bool TlsTestServer::HandshakeCompleted() {
  WaitFinished(options_.lifetimeMs);
  std::lock_guard<std::mutex> lock(mutex_);
  return handshakeCompleted_;
}

bool TlsTestServer::PeerClosed() {
  WaitFinished(options_.lifetimeMs);
  std::lock_guard<std::mutex> lock(mutex_);
  return peerClosed_;
}

void TlsTestServer::Serve() {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.lifetimeMs);
  int socket = -1;
  if (WaitReadable(listener_.Handle(), deadline, stop_))
    socket = ::accept4(listener_.Handle(), nullptr, nullptr, SOCK_CLOEXEC);
  if (socket >= 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      accepted_ = true;
      finishedSignal_.notify_all();
    }
    timeval limit{};
    limit.tv_sec = options_.lifetimeMs / 1000;
    limit.tv_usec = (options_.lifetimeMs % 1000) * 1000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    certificates::SslContextPtr context;
    certificates::SslPtr ssl;
    bool ready = true;
    if (options_.handshake) {
      context = ServerContext(options_);
      ssl.reset(SSL_new(context.get()));
      SSL_set_fd(ssl.get(), socket);
      ready = SSL_accept(ssl.get()) == 1;
      std::lock_guard<std::mutex> lock(mutex_);
      handshakeCompleted_ = ready;
      finishedSignal_.notify_all();
    }
    if (ready) RunScript(socket, ssl.get());
    ssl.reset();
    context.reset();
    ::close(socket);
    ERR_clear_error();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  finishedSignal_.notify_all();
}

void TlsTestServer::RunScript(int socket, void* sslHandle) {
  SSL* ssl = static_cast<SSL*>(sslHandle);
  auto receive = [&](char* buffer, int size) {
    return ssl != nullptr ? SSL_read(ssl, buffer, size) : static_cast<int>(::recv(socket, buffer, size, 0));
  };
  auto deadline = [&] { return Clock::now() + std::chrono::milliseconds(options_.lifetimeMs); };
  // Reads what the peer still sends until it closes, so that closing does not reset the
  // connection under answer bytes the peer has not read yet.
  auto drain = [&] {
    ::shutdown(socket, SHUT_WR);
    char buffer[4096];
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(2000);
    while (WaitReadable(socket, until, stop_) && ::recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
  };

  for (const Step& step : script_) {
    switch (step.kind) {
      case Step::Kind::ExpectRequest: {
        std::string received;
        char buffer[4096];
        while (received.find("\r\n\r\n") == std::string::npos) {
          const bool buffered = ssl != nullptr && SSL_pending(ssl) > 0;
          if (!buffered && !WaitReadable(socket, deadline(), stop_)) break;
          const int got = receive(buffer, sizeof buffer);
          if (got <= 0) break;
          received.append(buffer, static_cast<std::size_t>(got));
        }
        std::lock_guard<std::mutex> lock(mutex_);
        request_ += received;
        requestComplete_ = requestComplete_ || received.find("\r\n\r\n") != std::string::npos;
        finishedSignal_.notify_all();
        break;
      }
      case Step::Kind::Send: {
        const int sent = ssl != nullptr
                             ? SSL_write(ssl, step.bytes.data(), static_cast<int>(step.bytes.size()))
                             : static_cast<int>(::send(socket, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL));
        if (!step.bytes.empty() && sent <= 0) return;
        break;
      }
      case Step::Kind::Pause: {
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(step.milliseconds);
        while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        break;
      }
      case Step::Kind::Close:
        if (ssl != nullptr) SSL_shutdown(ssl);
        drain();
        return;
      case Step::Kind::Drop: drain(); return;
      case Step::Kind::StaySilent:
      case Step::Kind::ExpectPeerClose: {
        // Raw reads: whatever the peer sends (a handshake, a close alert) is swallowed.
        char buffer[4096];
        const Clock::time_point until = deadline();
        bool closed = false;
        while (!closed && WaitReadable(socket, until, stop_)) closed = ::recv(socket, buffer, sizeof buffer, 0) <= 0;
        if (step.kind == Step::Kind::ExpectPeerClose) {
          std::lock_guard<std::mutex> lock(mutex_);
          peerClosed_ = closed;
        }
        return;
      }
    }
  }
}

}  // namespace korvane::testing
