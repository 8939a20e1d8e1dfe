#include "app/list/RequestWorkers.h"

#include <pthread.h>

namespace korvane {

RequestWorkers::RequestWorkers(int count, ClientFactory newClient) : newClient_(std::move(newClient)) {
  threads_.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Work(); });
}

RequestWorkers::~RequestWorkers() {
  Cancel();
  for (std::thread& thread : threads_) thread.join();
}

std::future<void> RequestWorkers::Ask(PaidRequest& request, std::chrono::steady_clock::time_point notBefore) {
  const std::lock_guard guard(lock_);
  jobs_.push_back({&request, notBefore, {}});
  std::future<void> done = jobs_.back().done.get_future();
  if (cancelled_) {
    jobs_.back().done.set_exception(std::make_exception_ptr(RequestNotAsked()));
    jobs_.pop_back();
  }
  changed_.notify_one();
  return done;
}

void RequestWorkers::Cancel() {
  std::deque<Job> left;
  {
    const std::lock_guard guard(lock_);
    cancelled_ = true;
    left.swap(jobs_);
  }
  changed_.notify_all();
  for (Job& job : left) job.done.set_exception(std::make_exception_ptr(RequestNotAsked()));
}

void RequestWorkers::Work() {
  ::pthread_setname_np(::pthread_self(), "registry");
  std::unique_ptr<registry::RegistryClient> client;
  while (true) {
    Job job;
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [&] { return cancelled_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      // A request to be asked later (after a Retry-After) holds this worker till then.
      changed_.wait_until(guard, job.notBefore, [&] { return cancelled_; });
      if (cancelled_) {
        guard.unlock();
        job.done.set_exception(std::make_exception_ptr(RequestNotAsked()));
        continue;
      }
    }
    try {
      if (!client) client = newClient_();
      job.request->Ask(*client);
      job.done.set_value();
    } catch (...) {
      job.done.set_exception(std::current_exception());
    }
  }
}

}  // namespace korvane
