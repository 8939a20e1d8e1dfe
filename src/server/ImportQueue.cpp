#include "server/ImportQueue.h"

#include <algorithm>

namespace korvane::server {

ImportQueue::ImportQueue(std::size_t maxRunning, std::size_t maxWaiting, std::chrono::milliseconds maxWait)
    : maxRunning_(maxRunning), maxWaiting_(maxWaiting), maxWait_(maxWait) {}

ImportQueue::Place::~Place() {
  if (queue_ != nullptr) queue_->Leave();
}

ImportQueue::Place ImportQueue::Enter() {
  std::unique_lock lock(mutex_);
  if (closed_) return Place();
  if (running_ < maxRunning_ && waiting_.empty()) {
    ++running_;
    return Place(this);
  }
  if (waiting_.size() >= maxWaiting_) return Place();
  const std::uint64_t ticket = nextTicket_++;
  waiting_.push_back(ticket);
  const bool myTurn =
      turn_.wait_for(lock, maxWait_, [&] { return closed_ || (running_ < maxRunning_ && waiting_.front() == ticket); });
  waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
  if (!myTurn || closed_) {
    // The one behind may now be first with a free place.
    turn_.notify_all();
    return Place();
  }
  ++running_;
  turn_.notify_all();
  return Place(this);
}

void ImportQueue::Leave() {
  {
    const std::lock_guard lock(mutex_);
    --running_;
  }
  turn_.notify_all();
}

void ImportQueue::Close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  turn_.notify_all();
}

ImportQueue::Counts ImportQueue::Now() const {
  const std::lock_guard lock(mutex_);
  return {running_, waiting_.size()};
}

}  // namespace korvane::server
