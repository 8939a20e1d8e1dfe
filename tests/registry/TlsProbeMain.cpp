// A TLS client run as a child process by the tests, so that the library starts with whatever
// configuration (OPENSSL_CONF) the test gives the process. Prints one line.
//
//   tls_probe channel <url>    GET through the registry's TLS channel: the body, or "error: " and the message
//   tls_probe library <port>   a handshake with the library's defaults, no verification, to
//                              127.0.0.1:<port>: "handshake <version> <suite>" or "no handshake"
//   tls_probe lookup <name> <deadline ms>
//                              the registry's name lookup within that deadline: "found" or
//                              "error: " and the message
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ChannelGet.h"
#include "certificates/OpenSslHandles.h"
#include "loopback/Loopback.h"
#include "registry/TcpSocket.h"

namespace {

std::string WithLibraryDefaults(int port) {
  const int socket = korvane::loopback::Connect(port);
  if (socket < 0) return "no connection";
  const korvane::certificates::SslContextPtr context(SSL_CTX_new(TLS_client_method()));
  const korvane::certificates::SslPtr ssl(SSL_new(context.get()));
  SSL_set_fd(ssl.get(), socket);
  std::string outcome = "no handshake";
  if (SSL_connect(ssl.get()) == 1) {
    outcome = std::string("handshake ") + SSL_get_version(ssl.get()) + " " + SSL_get_cipher_name(ssl.get());
  }
  ::close(socket);
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "lookup") {
    const std::string outcome = korvane::testing::OutcomeOf([&] {
      korvane::registry::ResolveHost(argv[2], 443, false, korvane::registry::Deadline(std::atoi(argv[3])));
      return std::string("found");
    });
    std::fputs(outcome.c_str(), stdout);
    return 0;
  }
  if (argc != 3) return 2;
  const std::string mode = argv[1];
  const std::string outcome =
      mode == "channel" ? korvane::testing::GetThroughChannel(argv[2]) : WithLibraryDefaults(std::atoi(argv[2]));
  std::fputs(outcome.c_str(), stdout);
  return 0;
}
