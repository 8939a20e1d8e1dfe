#pragma once

// Relays between the runs and the database server, one listening port per slot: a run reaches
// its databases as "127.0.0.1/<port of its slot>:<path>", so every connection to that port is the
// slot's current run's, and its fault (a cut at a byte) hits that run alone.

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Plan.h"
#include "loopback/Loopback.h"

namespace korvane::soak {

// What the relay saw of one run.
struct RelayLog {
  std::vector<std::size_t> bytes;  // per connection, in the order they were accepted
  bool cut = false;                // the fault's cut was made
  int refused = 0;                 // connections refused after the cut
};

class DatabaseRelay {
 public:
  DatabaseRelay(int slots, int serverPort);
  ~DatabaseRelay();
  DatabaseRelay(const DatabaseRelay&) = delete;
  DatabaseRelay& operator=(const DatabaseRelay&) = delete;

  int Port(int slot) const { return listeners_[static_cast<std::size_t>(slot)].Port(); }
  // From now on the slot's connections are this run's (-1: none; they are refused).
  void Assign(int slot, int run, const Fault& fault);
  RelayLog Log(int run) const;

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    int run = -1;
    int connection = 0;  // 1-based, within the run
    std::size_t relayed = 0;
    std::size_t cutAt = 0;
    bool cuts = false;
    bool reset = false;
  };
  struct Slot {
    int run = -1;
    Fault fault;
  };

  void Loop();
  void Accept(int slot);
  // Passes what `from` has on to `to`; false when the pair is over.
  bool Pass(Pair& pair, bool fromClient);
  void Close(Pair& pair, bool reset);

  int serverPort_;
  std::vector<korvane::loopback::Listener> listeners_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::map<int, RelayLog> logs_;
  std::vector<Pair> pairs_;  // the relay thread's own
  std::vector<char> buffer_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace korvane::soak
