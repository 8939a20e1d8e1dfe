#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace korvane::platform {

// Runs `call` in a thread of its own and waits for its result until `until`. Nothing when the
// time runs out first: then the thread is left to end by itself, so `call` must own everything it
// touches (capture by value). For a call that cannot be interrupted (a name lookup, a write to a
// pipe nobody reads) but must not hold its caller past a bound. Raises std::system_error when no
// thread can be had.
template <typename Result, typename Call>
std::optional<Result> CallWithin(Call call, std::chrono::steady_clock::time_point until) {
  // Shared by the two threads; whichever lets go last frees it.
  struct Pending {
    std::mutex lock;
    std::condition_variable done;
    std::optional<Result> result;
  };
  auto pending = std::make_shared<Pending>();
  std::thread([pending, call = std::move(call)]() mutable {
    Result result = call();
    const std::lock_guard<std::mutex> guard(pending->lock);
    pending->result = std::move(result);
    pending->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> guard(pending->lock);
  pending->done.wait_until(guard, until, [&] { return pending->result.has_value(); });
  return std::move(pending->result);
}

}  // namespace korvane::platform
