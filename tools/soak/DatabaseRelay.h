#pragma once

// Relays between the runs and the database server, one listening port per slot: a run reaches
// its databases as "127.0.0.1/<port of its slot>:<path>", so every connection to that port is the
// slot's current run's, and its fault (a cut at a byte, a silence) hits that run alone.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Plan.h"
#include "loopback/Loopback.h"

namespace korvane::soak {

// What the relay saw of one run.
struct RelayLog {
  std::vector<std::size_t> bytes;  // per connection, in the order they were accepted
  std::vector<int> requests;       // per connection: the client's reads, each about one request
  bool cut = false;                // the fault's cut was made
  bool silent = false;             // the fault's silence fell
  std::optional<std::chrono::steady_clock::time_point> firedAt;  // when the cut or the silence came
  int refused = 0;                                               // connections refused after the cut
};

class DatabaseRelay {
 public:
  DatabaseRelay(int slots, int serverPort);
  ~DatabaseRelay();
  DatabaseRelay(const DatabaseRelay&) = delete;
  DatabaseRelay& operator=(const DatabaseRelay&) = delete;

  int Port(int slot) const { return listeners_[static_cast<std::size_t>(slot)].Port(); }
  // From now on the slot's connections are this run's (-1: none; they are refused). The run that
  // had it has ended: its silent connections are closed, as a server that notices a vanished
  // client closes them.
  void Assign(int slot, int run, const Fault& fault);
  RelayLog Log(int run) const;

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    int run = -1;
    int connection = 0;  // 1-based, within the run
    std::size_t relayed = 0;
    int requests = 0;  // reads from the client
    std::size_t cutAt = 0;
    bool cuts = false;
    bool reset = false;
    std::optional<Fault> silence;  // the run's silence, when it falls on this connection
    bool answerLost = false;       // the server's next bytes start the silence
    bool silent = false;           // nothing passes any more; both sockets stay open
  };
  struct Slot {
    int run = -1;
    Fault fault;
  };

  void Loop();
  void Accept(int slot);
  // Passes what `from` has on to `to`; false when the pair is over.
  bool Pass(Pair& pair, bool fromClient);
  // How many of `size` bytes just read pass before the pair's silence falls (all: none falls).
  std::size_t BeforeSilence(Pair& pair, bool fromClient, std::size_t size);
  // Logs what passed and what fell; true when the pair's run has already ended.
  bool Note(const Pair& pair, std::size_t passed, bool cut, bool silent);
  void Close(Pair& pair, bool reset);
  void CloseSilentOfEndedRuns();

  int serverPort_;
  std::vector<korvane::loopback::Listener> listeners_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::map<int, RelayLog> logs_;
  std::set<int> ended_;          // runs that have ended: their silent connections are closed
  std::vector<int> newlyEnded_;  // those the relay thread has not yet seen
  std::vector<Pair> pairs_;      // the relay thread's own
  std::vector<char> buffer_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace korvane::soak
