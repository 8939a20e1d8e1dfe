#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "server/AddressList.h"

// The connections whose key is not known yet: what any device that reaches the port can open.
// Each is looked at as its TLS handshake starts, before a byte of it is read: an address not
// allowed, one with too many such connections already, or one past the cap in all is shut down
// at once. Those let in have a whole deadline for the handshake and the request head, then one
// for the body; past it the socket is shut down, whatever trickles in. Once the request's
// signature is checked the connection leaves the count and its deadline: the import's queue
// bounds it from then on. Every drop is logged, at most once per reason and address in a while.
namespace korvane::server {

struct ConnectionLimits {
  std::size_t perAddress = 4;
  std::size_t total = 16;
  std::chrono::milliseconds head{5000};  // the TLS handshake and the request line and headers
  std::chrono::milliseconds body{10000};
};

class ConnectionGate {
 public:
  using Log = std::function<void(const std::string& client, const std::string& note)>;

  ConnectionGate(ConnectionLimits limits, AddressList allowed, Log log);
  ~ConnectionGate();
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // The socket of a connection whose handshake starts, on the thread that serves it: false (the
  // socket shut down, the drop logged) when it may not go on.
  bool Admit(int socket);
  // The serving thread's connection has read its head: the body's deadline from now.
  void HeadRead();
  // The serving thread's connection is signed by a key: no longer counted nor bounded here.
  void KeyKnown();
  // The serving thread's connection has ended (closed by the HTTP library).
  void Left();

  std::size_t Open() const;

 private:
  struct Connection {
    int socket = -1;
    std::string address;
    std::string peer;  // address and port: a socket number reused by another connection is not it
    std::chrono::steady_clock::time_point deadline;
    bool counted = true;
  };

  void Drop(int socket, const std::string& address, const std::string& reason);
  void LogDrop(const std::string& address, const std::string& reason);
  void Release(std::uint64_t id);
  void Watch();

  const ConnectionLimits limits_;
  const AddressList allowed_;
  const Log log_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::uint64_t, Connection> connections_;
  std::map<std::string, std::size_t> perAddress_;
  std::size_t counted_ = 0;
  std::uint64_t nextId_ = 1;
  std::map<std::string, std::chrono::steady_clock::time_point> lastLogged_;
  std::map<std::string, std::size_t> unlogged_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace korvane::server
