#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback/Loopback.h"

namespace korvane::testing {

// A TLS server on 127.0.0.1 (ephemeral port) that serves one connection by a script, in a
// thread of the test process, and stops by itself when the script ends or its lifetime runs
// out. Its certificates come from TestCertificates; trust the CA with SSL_CERT_FILE.
class TlsTestServer {
 public:
  enum class Certificate { Trusted, UntrustedCa, OtherName, ViaIntermediate, WeakKey };

  struct Options {
    Certificate certificate = Certificate::Trusted;
    bool tls13Only = false;
    // When set, the only protocol version offered (e.g. TLS1_VERSION), and the only cipher
    // suites offered below TLS 1.3. Either, or the WeakKey certificate, lowers the server's
    // security level to 0, so that old versions, weak suites and weak keys are really on offer.
    int onlyVersion = 0;
    std::string cipherList = {};
    bool handshake = true;   // false: the script runs on the bare TCP connection
    int lifetimeMs = 20000;  // waiting for the connection and each receive give up after this
  };

  struct Step {
    enum class Kind { ExpectRequest, Send, Pause, Close, Drop, StaySilent, ExpectPeerClose };
    Kind kind;
    std::string bytes;
    int milliseconds = 0;
  };

  // Reads up to the empty line that ends a request head and records the bytes.
  static Step ExpectRequest() { return {Step::Kind::ExpectRequest, {}, 0}; }
  static Step Send(std::string bytes) { return {Step::Kind::Send, std::move(bytes), 0}; }
  static Step Pause(int milliseconds) { return {Step::Kind::Pause, {}, milliseconds}; }
  // Sends the close alert and closes; Drop closes the socket without the alert.
  static Step Close() { return {Step::Kind::Close, {}, 0}; }
  static Step Drop() { return {Step::Kind::Drop, {}, 0}; }
  // Says nothing until the peer goes away (or the lifetime ends).
  static Step StaySilent() { return {Step::Kind::StaySilent, {}, 0}; }
  // Waits for the peer to close the connection and records that it did.
  static Step ExpectPeerClose() { return {Step::Kind::ExpectPeerClose, {}, 0}; }

  explicit TlsTestServer(std::vector<Step> script, Options options);
  explicit TlsTestServer(std::vector<Step> script) : TlsTestServer(std::move(script), Options{}) {}
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  int Port() const { return listener_.Port(); }
  // "https://<host>:<port>" followed by `path`.
  std::string Url(const std::string& path = "/", const std::string& host = "localhost") const;

  // True when the script has run to its end (or failed) within the time.
  bool WaitFinished(int milliseconds);
  // For a client that is done (its program has ended, its call has returned): the server takes
  // what has already arrived, waits for nothing more and stops, so that the readers below answer
  // at once instead of after the lifetime.
  void Stop();
  // True when a client connected, whether the server took the connection or it still waits on
  // the listener. Meant after Stop(): then it proves that no connection was ever made.
  bool Connected();
  // The bytes received by ExpectRequest steps (waits for the script to finish).
  std::string Request();
  // True when an ExpectRequest step has received a whole request head within the time.
  bool WaitForRequest(int milliseconds);
  bool HandshakeCompleted();
  // True when a client's connection was taken (or, with a handshake, its handshake completed)
  // within the time; these wait for the event itself, not for the script's end.
  bool WaitForConnection(int milliseconds);
  bool WaitForHandshake(int milliseconds);
  bool PeerClosed();

 private:
  void Serve();
  void RunScript(int socket, void* ssl);

  std::vector<Step> script_;
  Options options_;
  loopback::Listener listener_{0, 4};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable finishedSignal_;
  bool finished_ = false;
  std::string request_;
  bool requestComplete_ = false;
  bool handshakeCompleted_ = false;
  bool peerClosed_ = false;
  bool accepted_ = false;
  std::thread thread_;
};

}  // namespace korvane::testing
