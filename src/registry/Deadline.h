#pragma once

#include <algorithm>
#include <chrono>

#include "platform/Exception.h"
#include "registry/ByteSource.h"

namespace korvane::registry {

// How long one wait on the socket may last, and whether it is the exchange's deadline (not the
// step's own limit) that ends it.
struct WaitBudget {
  int milliseconds = 0;
  bool endsAtDeadline = false;
};

// The end of one exchange with the server: connect, handshake, request and answer together.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(int milliseconds) : end_(Clock::now() + std::chrono::milliseconds(milliseconds)) {}

  // The budget of the next wait of a step limited to `stepLimitMs`: the step's limit, or what is
  // left of the exchange when that is less. Raises "Read timed out." once the deadline has passed.
  WaitBudget BudgetFor(int stepLimitMs) const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    if (left <= 0) RaiseExchangeTimedOut();
    if (left <= stepLimitMs) return {static_cast<int>(left), true};
    return {std::max(stepLimitMs, 0), false};
  }

  Clock::time_point End() const { return end_; }
  // Moves the end later: time the exchange spent waiting on the caller does not count.
  void Postpone(Clock::duration by) { end_ += by; }

  [[noreturn]] static void RaiseExchangeTimedOut() { throw Exception(kReadTimedOutMessage); }

 private:
  Clock::time_point end_;
};

}  // namespace korvane::registry
