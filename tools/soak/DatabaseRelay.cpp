#include "DatabaseRelay.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace korvane::soak {

namespace {

void Prepare(int socket) {
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A peer that does not read cannot hold the relay (and every other slot) for long.
  timeval limit{5, 0};
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

DatabaseRelay::DatabaseRelay(int slots, int serverPort)
    : serverPort_(serverPort), slots_(static_cast<std::size_t>(slots)), buffer_(65536) {
  for (int i = 0; i < slots; ++i) listeners_.emplace_back(0, 64);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
  thread_ = std::thread([this] { Loop(); });
}

DatabaseRelay::~DatabaseRelay() {
  stop_ = true;
  const char byte = 0;
  if (write(wake_[1], &byte, 1) < 0) {
    // The loop also wakes on its own every second.
  }
  thread_.join();
  for (Pair& pair : pairs_) Close(pair, false);
  close(wake_[0]);
  close(wake_[1]);
}

void DatabaseRelay::Assign(int slot, int run, const Fault& fault) {
  {
    const std::lock_guard lock(mutex_);
    Slot& owner = slots_[static_cast<std::size_t>(slot)];
    if (owner.run >= 0) {
      ended_.insert(owner.run);
      newlyEnded_.push_back(owner.run);
    }
    owner = {run, fault};
    if (run >= 0) logs_[run];
  }
  const char byte = 0;
  if (write(wake_[1], &byte, 1) < 0) {
    // A full pipe already wakes the loop.
  }
}

RelayLog DatabaseRelay::Log(int run) const {
  const std::lock_guard lock(mutex_);
  const auto found = logs_.find(run);
  return found == logs_.end() ? RelayLog{} : found->second;
}

void DatabaseRelay::Close(Pair& pair, bool reset) {
  for (const int socket : {pair.client, pair.server}) {
    if (socket < 0) continue;
    if (reset) {
      // A reset, as a connection that is gone gives the peer, not an orderly end.
      linger hard{1, 0};
      setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(socket);
  }
  pair.client = pair.server = -1;
}

void DatabaseRelay::Accept(int slot) {
  const int client = ::accept4(listeners_[static_cast<std::size_t>(slot)].Handle(), nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  Pair pair;
  pair.client = client;
  {
    const std::lock_guard lock(mutex_);
    const Slot& owner = slots_[static_cast<std::size_t>(slot)];
    if (owner.run < 0) {
      ::close(client);
      return;
    }
    RelayLog& log = logs_[owner.run];
    const Fault& fault = owner.fault;
    const bool cutFault = fault.kind == FaultKind::DatabaseCut;
    if (cutFault && fault.refuseLater && log.cut) {
      ++log.refused;
      ::close(client);
      return;
    }
    log.bytes.push_back(0);
    log.requests.push_back(0);
    pair.run = owner.run;
    pair.connection = static_cast<int>(log.bytes.size());
    pair.cuts = cutFault && fault.connection == pair.connection;
    if (fault.kind == FaultKind::DatabaseSilent && fault.connection == pair.connection) pair.silence = fault;
    pair.cutAt = static_cast<std::size_t>(fault.bytes);
    pair.reset = fault.reset;
    if (pair.cuts && pair.cutAt == 0) {
      log.cut = true;
      Close(pair, pair.reset);
      return;
    }
  }
  pair.server = korvane::loopback::Connect(serverPort_);
  if (pair.server < 0) {
    ::close(client);
    return;
  }
  Prepare(pair.client);
  Prepare(pair.server);
  pairs_.push_back(pair);
}

std::size_t DatabaseRelay::BeforeSilence(Pair& pair, bool fromClient, std::size_t size) {
  if (!pair.silence) return size;
  const Fault& silence = *pair.silence;
  switch (silence.variant) {
    case kSilentAtByte: {
      const auto at = static_cast<std::size_t>(silence.bytes);
      return pair.relayed + size >= at ? at - pair.relayed : size;
    }
    case kSilentRequestLost: return fromClient && pair.requests == silence.request ? 0 : size;
    default:
      if (!fromClient && pair.answerLost) return 0;
      if (fromClient && pair.requests == silence.request) pair.answerLost = true;
      return size;
  }
}

bool DatabaseRelay::Note(const Pair& pair, std::size_t passed, bool cut, bool silent) {
  const std::lock_guard lock(mutex_);
  RelayLog& log = logs_[pair.run];
  const auto connection = static_cast<std::size_t>(pair.connection - 1);
  log.bytes[connection] += passed;
  if (cut || silent) log.firedAt = std::chrono::steady_clock::now();
  if (cut) log.cut = true;
  if (silent) log.silent = true;
  return ended_.count(pair.run) > 0;
}

bool DatabaseRelay::Pass(Pair& pair, bool fromClient) {
  if (pair.silent) return true;
  const int from = fromClient ? pair.client : pair.server;
  const int to = fromClient ? pair.server : pair.client;
  const ssize_t got = ::recv(from, buffer_.data(), buffer_.size(), 0);
  if (got <= 0) return false;
  if (fromClient) {
    ++pair.requests;
    const std::lock_guard lock(mutex_);
    ++logs_[pair.run].requests[static_cast<std::size_t>(pair.connection - 1)];
  }
  std::size_t size = static_cast<std::size_t>(got);
  bool cutNow = false;
  if (pair.cuts && pair.relayed + size >= pair.cutAt) {
    size = pair.cutAt - pair.relayed;
    cutNow = true;
  }
  const std::size_t passing = BeforeSilence(pair, fromClient, size);
  const bool silentNow = passing < size || (pair.silence && pair.silence->variant == kSilentAtByte &&
                                            pair.relayed + passing == static_cast<std::size_t>(pair.silence->bytes));
  size = passing;
  const bool sent = size == 0 || loopback::SendAll(to, std::string_view(buffer_.data(), size));
  pair.relayed += size;
  const bool runEnded = Note(pair, size, cutNow, silentNow);
  if (cutNow) {
    Close(pair, pair.reset);
    return false;
  }
  // What is read from now on is dropped, as a network that has gone silent drops it; a run that
  // has already ended leaves nobody to wait for it.
  if (silentNow) pair.silent = true;
  return sent && !(silentNow && runEnded);
}

void DatabaseRelay::CloseSilentOfEndedRuns() {
  std::vector<int> ended;
  {
    const std::lock_guard lock(mutex_);
    ended.swap(newlyEnded_);
  }
  for (Pair& pair : pairs_) {
    if (pair.silent && std::find(ended.begin(), ended.end(), pair.run) != ended.end()) Close(pair, false);
  }
}

void DatabaseRelay::Loop() {
  while (!stop_) {
    std::vector<pollfd> watched{{wake_[0], POLLIN, 0}};
    for (const auto& listener : listeners_) watched.push_back({listener.Handle(), POLLIN, 0});
    const std::size_t firstPair = watched.size();
    for (const Pair& pair : pairs_) {
      // A silent pair is not read: what its peers send waits in the buffers until they fill.
      watched.push_back({pair.silent ? -1 : pair.client, POLLIN, 0});
      watched.push_back({pair.silent ? -1 : pair.server, POLLIN, 0});
    }
    if (::poll(watched.data(), watched.size(), 1000) <= 0) continue;
    if (watched[0].revents != 0) {
      char drained[64];
      while (::read(wake_[0], drained, sizeof drained) > 0) {
      }
    }
    // Pairs accepted below were not watched in this round.
    const std::size_t watchedPairs = pairs_.size();
    for (std::size_t i = 0; i < watchedPairs; ++i) {
      Pair& pair = pairs_[i];
      bool open = true;
      if (watched[firstPair + 2 * i].revents != 0) open = Pass(pair, true);
      if (open && pair.client >= 0 && watched[firstPair + 2 * i + 1].revents != 0) open = Pass(pair, false);
      if (!open) Close(pair, false);
    }
    CloseSilentOfEndedRuns();
    pairs_.erase(std::remove_if(pairs_.begin(), pairs_.end(), [](const Pair& pair) { return pair.client < 0; }),
                 pairs_.end());
    for (std::size_t slot = 0; slot < listeners_.size(); ++slot) {
      if (watched[1 + slot].revents != 0) Accept(static_cast<int>(slot));
    }
  }
}

}  // namespace korvane::soak
