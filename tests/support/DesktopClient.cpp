#include "support/DesktopClient.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "certificates/OpenSslHandles.h"
#include "loopback/Loopback.h"

namespace korvane::testing {

namespace {

std::string ToHex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xF];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// One TLS connection to the service, closed by its owner.
class Connection {
 public:
  explicit Connection(int port, int maxVersion = 0) : socket_(loopback::Connect(port)) {
    if (socket_ < 0) throw std::runtime_error("no connection to port " + std::to_string(port));
    context_.reset(SSL_CTX_new(TLS_client_method()));
    if (maxVersion != 0) SSL_CTX_set_max_proto_version(context_.get(), maxVersion);
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_NONE, nullptr);
    ssl_.reset(SSL_new(context_.get()));
    SSL_set_fd(ssl_.get(), socket_);
    SSL_set_tlsext_host_name(ssl_.get(), "localhost");
    handshake_ = SSL_connect(ssl_.get()) == 1;
  }
  ~Connection() { ::close(socket_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool HandshakeDone() const { return handshake_; }
  void Write(const std::string& bytes) {
    if (!handshake_) throw std::runtime_error("TLS handshake failed");
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const int n = SSL_write(ssl_.get(), bytes.data() + sent, static_cast<int>(bytes.size() - sent));
      if (n <= 0) return;  // the server may refuse before it has read everything
      sent += static_cast<std::size_t>(n);
    }
  }
  std::string ReadAll() {
    std::string bytes;
    char buffer[4096];
    for (;;) {
      const int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }

 private:
  int socket_;
  certificates::SslContextPtr context_;
  certificates::SslPtr ssl_;
  bool handshake_ = false;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::string DesktopSignature(const std::string& keyHex, const std::string& method, const std::string& path,
                             const std::string& time, const std::string& nonce, const std::string& body) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(body.data(), body.size(), digest, &size, EVP_sha256(), nullptr);
  const std::string text =
      "korvane-v1\n" + method + "\n" + path + "\n" + time + "\n" + nonce + "\n" + ToHex(digest, size);
  const std::string key = FromHex(keyHex);
  unsigned char mac[EVP_MAX_MD_SIZE];
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
       text.size(), mac, &size);
  return ToHex(mac, size);
}

DesktopRequest SignedImport(const std::string& keyName, const std::string& keyHex,
                            const std::vector<std::string>& arguments, std::int64_t time, const std::string& nonce) {
  DesktopRequest request;
  for (const std::string& argument : arguments) request.body += argument + '\0';
  if (time < 0) {
    time =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  }
  std::string usedNonce = nonce;
  if (usedNonce.empty()) {
    unsigned char random[16];
    RAND_bytes(random, sizeof random);
    usedNonce = ToHex(random, sizeof random);
  }
  const std::string timeText = std::to_string(time);
  request.headers = {
      {"X-Korvane-Key", keyName},
      {"X-Korvane-Time", timeText},
      {"X-Korvane-Nonce", usedNonce},
      {"X-Korvane-Signature", DesktopSignature(keyHex, "POST", "/v1/import", timeText, usedNonce, request.body)}};
  return request;
}

std::string RequestBytes(const std::string& method, const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body) {
  std::string bytes = method + " " + path + " HTTP/1.1\r\nHost: srv01\r\n";
  const bool hasLength = std::any_of(headers.begin(), headers.end(),
                                     [](const auto& header) { return Lower(header.first) == "content-length"; });
  if (!hasLength) bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  bytes += "Content-Type: application/octet-stream\r\n";
  for (const auto& [name, value] : headers) bytes += name + ": " + value + "\r\n";
  return bytes + "\r\n" + body;
}

std::string RequestBytes(const DesktopRequest& request) {
  return RequestBytes("POST", "/v1/import", request.headers, request.body);
}

HttpAnswer Send(int port, const std::string& requestBytes) {
  Connection connection(port);
  connection.Write(requestBytes);
  const std::string bytes = connection.ReadAll();
  HttpAnswer answer;
  const std::size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos || !bytes.starts_with("HTTP/1.1 ")) return answer;
  answer.status = std::stoi(bytes.substr(9, 3));
  std::size_t line = bytes.find("\r\n") + 2;
  while (line < headEnd) {
    const std::size_t end = bytes.find("\r\n", line);
    const std::string header = bytes.substr(line, end - line);
    const std::size_t colon = header.find(':');
    std::string value = header.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    answer.headers[Lower(header.substr(0, colon))] = value;
    line = end + 2;
  }
  answer.body = bytes.substr(headEnd + 4);
  return answer;
}

void SendAndHangUp(int port, const std::string& requestBytes) {
  Connection connection(port);
  connection.Write(requestBytes);
}

bool HandshakeWithMaxVersion(int port, int maxVersion) { return Connection(port, maxVersion).HandshakeDone(); }

}  // namespace korvane::testing
