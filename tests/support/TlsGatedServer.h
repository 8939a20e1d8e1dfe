#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "certificates/OpenSslHandles.h"
#include "loopback/Loopback.h"

namespace korvane::testing {

// A TLS server on 127.0.0.1 (ephemeral port) that gives every connection the same response,
// but holds each one until `gate` requests have arrived, Open() is called or `gateMs` have
// passed: runs started together thus all do what comes before the registry call before any
// of them goes on past it. Serves the trusted identity of TestCertificates (trust its CA with
// SSL_CERT_FILE).
class TlsGatedServer {
 public:
  TlsGatedServer(std::string response, int gate, int gateMs = 120000);
  ~TlsGatedServer();
  TlsGatedServer(const TlsGatedServer&) = delete;
  TlsGatedServer& operator=(const TlsGatedServer&) = delete;

  // "https://localhost:<port>" followed by `path`.
  std::string Url(const std::string& path) const;
  // Requests received so far (whole request heads).
  int Requests();
  // Waits until `count` requests have arrived; false when the time ran out first.
  bool WaitForRequests(int count, int milliseconds);
  // Lets every held connection go, and every later one pass at once.
  void Open();

 private:
  void Accept();
  void Serve(int socket);

  std::string response_;
  int gate_;
  int gateMs_;
  certificates::SslContextPtr context_;
  loopback::Listener listener_{0, 128};
  bool stop_ = false;
  bool open_ = false;
  int requests_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread acceptor_;
  std::vector<std::thread> connections_;
};

}  // namespace korvane::testing
