#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

// At most N imports at once; the requests beyond wait in turn, in a queue bounded in length and
// in time.
namespace korvane::server {

class ImportQueue {
 public:
  ImportQueue(std::size_t maxRunning, std::size_t maxWaiting, std::chrono::milliseconds maxWait);

  // A place among the running imports, held until the object goes. Empty (false) when the queue
  // is full, the wait ran out, or the service is closing.
  class Place {
   public:
    Place() = default;
    explicit Place(ImportQueue* queue) : queue_(queue) {}
    Place(Place&& other) noexcept : queue_(std::exchange(other.queue_, nullptr)) {}
    Place& operator=(Place&&) = delete;
    ~Place();
    explicit operator bool() const { return queue_ != nullptr; }

   private:
    ImportQueue* queue_ = nullptr;
  };

  Place Enter();
  // Every waiting request gets no place, and every later one either.
  void Close();

  struct Counts {
    std::size_t running = 0;
    std::size_t waiting = 0;
  };
  Counts Now() const;

 private:
  void Leave();

  const std::size_t maxRunning_;
  const std::size_t maxWaiting_;
  const std::chrono::milliseconds maxWait_;
  mutable std::mutex mutex_;
  std::condition_variable turn_;
  std::size_t running_ = 0;
  std::deque<std::uint64_t> waiting_;  // tickets, first come first served
  std::uint64_t nextTicket_ = 0;
  bool closed_ = false;
};

}  // namespace korvane::server
