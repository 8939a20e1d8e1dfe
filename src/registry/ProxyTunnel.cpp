#include "registry/ProxyTunnel.h"

#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>

#include <string_view>
#include <vector>

#include "platform/CodePages.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/SocketErrors.h"
#include "registry/HttpResponse.h"
#include "registry/TcpSocket.h"

namespace korvane::registry {

namespace {

std::string Base64(std::string_view bytes) {
  std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
  const int length =
      EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(length));
}

void SendAll(int socket, std::string_view bytes, const Deadline& deadline, int stepLimitMs, int wakeFd) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const int error = LastSocketError();
    if (error != platform::kWsaWouldBlock && error != platform::kWsaInterrupted) throw platform::SocketError(error);
    if (!WaitForSocket(socket, POLLOUT, deadline.BudgetFor(stepLimitMs), wakeFd)) {
      throw platform::SocketError(platform::kWsaTimedOut);
    }
  }
}

// Reads the answer head one byte at a time, so that not a byte of the tunnel is taken from the
// socket. Returns the lines without their line ends, up to (not including) the empty line.
std::vector<std::string> ReadHead(int socket, const Deadline& deadline, int stepLimitMs, int wakeFd) {
  const ResponseLimits limits;
  std::vector<std::string> lines;
  std::string line;
  for (;;) {
    char byte = 0;
    const ssize_t got = ::recv(socket, &byte, 1, 0);
    if (got == 0) throw Exception("Connection Closed Gracefully.");
    if (got < 0) {
      const int error = LastSocketError();
      if (error != platform::kWsaWouldBlock && error != platform::kWsaInterrupted) throw platform::SocketError(error);
      if (!WaitForSocket(socket, POLLIN, deadline.BudgetFor(stepLimitMs), wakeFd)) {
        throw Exception(kReadTimedOutMessage);
      }
      continue;
    }
    if (byte != '\n') {
      if (line.size() >= limits.maxLineLength) throw Exception("Max line length exceeded.");
      line.push_back(byte);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() && !lines.empty()) return lines;
    if (line.empty()) continue;  // blank lines before the status line
    if (lines.size() > limits.maxHeaderLines) throw Exception("Max header line count exceeded.");
    lines.push_back(std::move(line));
    line.clear();
  }
}

}  // namespace

std::string BuildConnectRequest(const std::string& authority, const Proxy& proxy) {
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (proxy.hasCredentials)
    request += "Proxy-Authorization: Basic " + Base64(proxy.user + ":" + proxy.password) + "\r\n";
  request += "\r\n";
  return request;
}

void OpenProxyTunnel(int socket, const Proxy& proxy, const std::string& authority, const Deadline& deadline,
                     int stepLimitMs, int wakeFd) {
  SendAll(socket, BuildConnectRequest(authority, proxy), deadline, stepLimitMs, wakeFd);
  for (;;) {
    const std::vector<std::string> head = ReadHead(socket, deadline, stepLimitMs, wakeFd);
    const std::string statusLine = platform::AsciiToUtf8(head.front());
    const int code = StatusCodeOf(statusLine);
    if (code >= 200 && code <= 299) return;
    // An interim answer is followed by the real one.
    if (code >= 100 && code <= 199) continue;
    throw Exception(platform::OutsideTextForMessage(statusLine));
  }
}

}  // namespace korvane::registry
