#include "server/ConnectionGate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace korvane::server {

namespace {

using Clock = std::chrono::steady_clock;

// A drop of one reason from one address is logged once in this time; the next line counts the
// drops left out.
constexpr std::chrono::seconds kLogInterval{10};

// The serving thread's connection (0: none): the handshake, the request and the end of one
// connection happen on the thread that took it.
thread_local std::uint64_t currentConnection = 0;

struct Peer {
  std::string address;
  std::string withPort;
};

std::optional<Peer> PeerOf(int socket) {
  sockaddr_storage storage{};
  socklen_t size = sizeof storage;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&storage), &size) != 0) return std::nullopt;
  char text[INET6_ADDRSTRLEN] = {};
  int port = 0;
  if (storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  } else {
    return std::nullopt;
  }
  return Peer{text, std::string(text) + "#" + std::to_string(port)};
}

}  // namespace

ConnectionGate::ConnectionGate(ConnectionLimits limits, AddressList allowed, Log log)
    : limits_(limits), allowed_(std::move(allowed)), log_(std::move(log)), watcher_([this] { Watch(); }) {}

ConnectionGate::~ConnectionGate() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  watcher_.join();
}

bool ConnectionGate::Admit(int socket) {
  currentConnection = 0;
  const std::optional<Peer> peer = PeerOf(socket);
  if (!peer) {
    ::shutdown(socket, SHUT_RDWR);
    return false;
  }
  if (!allowed_.Allows(peer->address)) {
    Drop(socket, peer->address, "address not allowed");
    return false;
  }
  const char* over = nullptr;
  {
    const std::lock_guard lock(mutex_);
    const auto fromAddress = perAddress_.find(peer->address);
    if (fromAddress != perAddress_.end() && fromAddress->second >= limits_.perAddress) {
      over = "too many connections from this address";
    } else if (counted_ >= limits_.total) {
      over = "too many connections without a key";
    } else {
      ++perAddress_[peer->address];
      ++counted_;
      currentConnection = nextId_++;
      connections_[currentConnection] = {socket, peer->address, peer->withPort, Clock::now() + limits_.head, true};
    }
  }
  if (over != nullptr) {
    Drop(socket, peer->address, over);
    return false;
  }
  changed_.notify_all();
  return true;
}

void ConnectionGate::HeadRead() {
  const std::lock_guard lock(mutex_);
  const auto found = connections_.find(currentConnection);
  if (found != connections_.end() && found->second.counted) found->second.deadline = Clock::now() + limits_.body;
  changed_.notify_all();
}

void ConnectionGate::KeyKnown() {
  const std::lock_guard lock(mutex_);
  const auto found = connections_.find(currentConnection);
  if (found == connections_.end() || !found->second.counted) return;
  found->second.counted = false;
  --counted_;
  if (--perAddress_[found->second.address] == 0) perAddress_.erase(found->second.address);
}

void ConnectionGate::Left() {
  const std::uint64_t id = std::exchange(currentConnection, 0);
  if (id != 0) Release(id);
}

std::size_t ConnectionGate::Open() const {
  const std::lock_guard lock(mutex_);
  return counted_;
}

void ConnectionGate::Release(std::uint64_t id) {
  const std::lock_guard lock(mutex_);
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  if (found->second.counted) {
    --counted_;
    if (--perAddress_[found->second.address] == 0) perAddress_.erase(found->second.address);
  }
  connections_.erase(found);
}

void ConnectionGate::Drop(int socket, const std::string& address, const std::string& reason) {
  ::shutdown(socket, SHUT_RDWR);
  LogDrop(address, reason);
}

void ConnectionGate::LogDrop(const std::string& address, const std::string& reason) {
  std::string note;
  {
    const std::lock_guard lock(mutex_);
    const std::string key = reason + "|" + address;
    const Clock::time_point now = Clock::now();
    const auto last = lastLogged_.find(key);
    if (last != lastLogged_.end() && now - last->second < kLogInterval) {
      ++unlogged_[key];
      return;
    }
    lastLogged_[key] = now;
    note = "connection dropped: " + reason;
    const std::size_t left = std::exchange(unlogged_[key], 0);
    if (left > 0) note += " (" + std::to_string(left) + " more like it not logged)";
    // The log of drops stays small however many addresses come and go.
    if (lastLogged_.size() > 4096) {
      std::erase_if(lastLogged_, [&](const auto& entry) { return now - entry.second >= kLogInterval; });
      std::erase_if(unlogged_, [&](const auto& entry) { return !lastLogged_.contains(entry.first); });
    }
  }
  log_(address, note);
}

void ConnectionGate::Watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    Clock::time_point next = Clock::time_point::max();
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<int, std::string>> late;
    for (auto& [id, connection] : connections_) {
      if (!connection.counted || connection.socket < 0) continue;
      if (connection.deadline <= now) {
        // Still the same connection: its socket was not closed and given to another meanwhile.
        const std::optional<Peer> peer = PeerOf(connection.socket);
        if (peer && peer->withPort == connection.peer) {
          ::shutdown(connection.socket, SHUT_RDWR);
          late.emplace_back(connection.socket, connection.address);
        }
        connection.socket = -1;
      } else {
        next = std::min(next, connection.deadline);
      }
    }
    if (!late.empty()) {
      lock.unlock();
      for (const auto& [socket, address] : late) LogDrop(address, "request not received in time");
      lock.lock();
      continue;
    }
    if (next == Clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
}

}  // namespace korvane::server
