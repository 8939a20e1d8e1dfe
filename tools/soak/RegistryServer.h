#pragma once

// A scripted stand-in for the business registry: an HTTPS server on 127.0.0.1 with one port per
// slot, so that each connection is known to be the slot's current run's. It answers every run
// with a company whose name tags the run ("Soak run <index>"), in the format the run's address
// asks for, unless the run's fault says otherwise, and it logs what each run sent: the request
// bytes are the registry's proof that a run paid.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Plan.h"
#include "certificates/OpenSslHandles.h"
#include "loopback/Loopback.h"

namespace korvane::soak {

// The company name of a run's answer, which its row carries.
std::string RunTag(int run);

struct RegistryLog {
  int connections = 0;
  int handshakes = 0;
  std::size_t requestBytes = 0;  // application bytes received after a handshake
  int requests = 0;              // whole request heads
  int answers = 0;               // answers (of any kind) written whole
  // When the first answer began to be written: a run's insert and commit come after it.
  std::optional<std::chrono::steady_clock::time_point> answerAt;
  std::string strayToken;  // a request that carried another run's token
};

class RegistryServer {
 public:
  // Makes its certificate authority (its certificate in `caFile`) and the server certificates.
  RegistryServer(const std::string& caFile, int slots);
  ~RegistryServer();
  RegistryServer(const RegistryServer&) = delete;
  RegistryServer& operator=(const RegistryServer&) = delete;

  int Port(int slot) const { return listeners_[static_cast<std::size_t>(slot)].Port(); }
  // From now on the slot's connections are this run's (nullptr: none; they are closed).
  void Assign(int slot, const RunPlan* run);
  RegistryLog Log(int run) const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void AcceptLoop();
  void Serve(int socket, const RunPlan& run, int connection);
  void ServeTls(int socket, const RunPlan& run, int connection);
  void Note(int run, const std::function<void(RegistryLog&)>& change);
  void ReapWorkers(bool all);

  certificates::SslContextPtr trusted_;
  certificates::SslContextPtr stranger_;
  certificates::SslContextPtr wrongName_;
  std::vector<korvane::loopback::Listener> listeners_;
  mutable std::mutex mutex_;
  std::vector<std::optional<RunPlan>> slots_;
  std::map<int, RegistryLog> logs_;
  std::set<int> liveSockets_;
  std::list<Worker> workers_;  // the accepting thread's own
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
};

}  // namespace korvane::soak
