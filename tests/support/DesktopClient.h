#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A Windows desktop's side of docs/protocol.md, for tests: the signed request of one import and a
// TLS client that sends bytes to the service on 127.0.0.1. Written apart from the service's own
// code, so that each checks the other.
namespace korvane::testing {

struct DesktopRequest {
  std::vector<std::pair<std::string, std::string>> headers;  // the X-Korvane-* ones
  std::string body;
};

// The body of `arguments` (each followed by NUL) signed with the key (64 hex digits). `time` and
// `nonce` default to now and a new random one.
DesktopRequest SignedImport(const std::string& keyName, const std::string& keyHex,
                            const std::vector<std::string>& arguments, std::int64_t time = -1,
                            const std::string& nonce = {});
// The signature alone, for a test that changes one of its parts.
std::string DesktopSignature(const std::string& keyHex, const std::string& method, const std::string& path,
                             const std::string& time, const std::string& nonce, const std::string& body);

// The HTTP/1.1 request's bytes: the request line, Host, Content-Length (unless `headers` has
// one), `headers`, then the body.
std::string RequestBytes(const std::string& method, const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body);
std::string RequestBytes(const DesktopRequest& request);

struct HttpAnswer {
  int status = 0;                              // 0 when no answer came
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// Connects to 127.0.0.1:port over TLS (the server's certificate is not checked: the service's
// tests are about the service), sends the bytes and reads the answer until the server closes.
HttpAnswer Send(int port, const std::string& requestBytes);
// Sends the request and goes away at once without reading.
void SendAndHangUp(int port, const std::string& requestBytes);
// The TLS versions the server agrees to: true when a handshake capped at `maxVersion` (an OpenSSL
// TLS1_x_VERSION) completes.
bool HandshakeWithMaxVersion(int port, int maxVersion);

}  // namespace korvane::testing
