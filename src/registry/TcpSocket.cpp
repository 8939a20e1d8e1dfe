#include "registry/TcpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/CallWithin.h"
#include "platform/SocketErrors.h"
#include "platform/Text.h"

namespace korvane::registry {

using platform::SocketError;

namespace {

// Names under the reserved ".invalid" domain never resolve (RFC 6761): no lookup is sent.
bool IsReservedInvalidName(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  const std::string lower = platform::LowerCaseAscii(host);
  return lower == "invalid" || lower.ends_with(".invalid");
}

struct AddressListFree {
  void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

// The outcome of one name lookup: the first IPv4 address, or the Windows Sockets number of the
// failure.
struct LookupOutcome {
  in_addr address{};
  int error = 0;
};

LookupOutcome LookUp(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0) return {{}, platform::WsaErrorFromLookup(result, errno)};
  const std::unique_ptr<addrinfo, AddressListFree> list(found);
  if (found == nullptr || found->ai_addr == nullptr) return {{}, platform::kWsaHostNotFound};
  return {reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 0};
}

// The lookup cannot be interrupted: it runs in a thread of its own that the caller leaves to end
// by itself at the deadline.
LookupOutcome LookUpWithin(const std::string& host, const Deadline& deadline) {
  try {
    return platform::CallWithin<LookupOutcome>([host] { return LookUp(host); }, deadline.End())
        .value_or(LookupOutcome{{}, platform::kWsaTryAgain});
  } catch (const std::system_error&) {
    return LookUp(host);  // no thread to be had: the lookup is made here
  }
}

}  // namespace

Socket::~Socket() {
  if (handle_ >= 0) ::close(handle_);
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(handle_);
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

int LastSocketError() { return platform::WsaErrorFromErrno(errno, false); }

bool IsAddressLiteral(const std::string& host, bool ipv6) {
  in6_addr scratch{};
  return inet_pton(ipv6 ? AF_INET6 : AF_INET, host.c_str(), &scratch) == 1;
}

SocketAddress ResolveHost(const std::string& host, int port, bool ipv6, const Deadline& deadline) {
  SocketAddress address;
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) != 1) throw SocketError(platform::kWsaHostNotFound);
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
  if (platform::SameTextAscii(host, "LOCALHOST")) {
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    address.isIpLiteral = true;
    return address;
  }
  if (IsReservedInvalidName(host)) throw SocketError(platform::kWsaHostNotFound);
  const LookupOutcome outcome = LookUpWithin(host, deadline);
  if (outcome.error != 0) throw SocketError(outcome.error);
  v4->sin_addr = outcome.address;
  return address;
}

Socket ConnectTcp(const SocketAddress& address, const Deadline& deadline, int connectLimitMs, int wakeFd) {
  Socket socket(::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.Handle() < 0) throw SocketError(LastSocketError());
  const int noDelay = 1;
  if (setsockopt(socket.Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0) {
    throw SocketError(LastSocketError());
  }
  if (::connect(socket.Handle(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
    return socket;
  }
  if (const int error = LastSocketError(); error != platform::kWsaInProgress && error != platform::kWsaInterrupted) {
    throw SocketError(error);
  }
  if (!WaitForSocket(socket.Handle(), POLLOUT, deadline.BudgetFor(connectLimitMs), wakeFd)) {
    throw SocketError(platform::kWsaTimedOut);
  }
  int outcome = 0;
  socklen_t length = sizeof outcome;
  if (getsockopt(socket.Handle(), SOL_SOCKET, SO_ERROR, &outcome, &length) != 0) throw SocketError(LastSocketError());
  if (outcome != 0) throw SocketError(platform::WsaErrorFromErrno(outcome, false));
  return socket;
}

bool WaitForSocket(int socket, short events, WaitBudget budget, int wakeFd) {
  using Clock = Deadline::Clock;
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(budget.milliseconds);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd entries[2] = {{socket, events, 0}, {wakeFd, POLLIN, 0}};
    const int ready = ::poll(entries, wakeFd >= 0 ? 2 : 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
    if (ready > 0) {
      if (wakeFd >= 0 && entries[1].revents != 0) throw WaitCancelled();
      return true;
    }
    if (ready == 0) break;
    if (const int error = LastSocketError(); error != platform::kWsaInterrupted) throw SocketError(error);
  }
  if (budget.endsAtDeadline) Deadline::RaiseExchangeTimedOut();
  return false;
}

}  // namespace korvane::registry
