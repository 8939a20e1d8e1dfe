#include "db/Watchdog.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "db/CallBound.h"
#include "platform/Trace.h"

namespace korvane::db {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::chrono::milliseconds::rep> gTimeout{std::chrono::milliseconds(kDefaultCallTimeout).count()};
thread_local std::optional<Clock::time_point> tDeadline;
thread_local const CallPurpose* tPurpose = nullptr;
std::atomic<bool> gLeftBehind{false};

// When a call that starts now is given up.
Clock::time_point DeadlineOfACallStartingNow(std::chrono::milliseconds extra) {
  const Clock::time_point bound = Clock::now() + CallTimeout() + extra;
  return tDeadline ? std::min(bound, *tDeadline) : bound;
}

}  // namespace

void SetCallTimeout(std::chrono::milliseconds timeout) noexcept { gTimeout = timeout.count(); }

std::chrono::milliseconds CallTimeout() noexcept { return std::chrono::milliseconds(gTimeout.load()); }

CallDeadline::CallDeadline(Clock::time_point deadline) noexcept : outer_(tDeadline) {
  tDeadline = outer_ ? std::min(*outer_, deadline) : deadline;
}

CallDeadline::~CallDeadline() { tDeadline = outer_; }

CallPurpose::CallPurpose(std::string what) : what_(std::move(what)), outer_(tPurpose) { tPurpose = this; }

CallPurpose::~CallPurpose() { tPurpose = outer_; }

bool CallsLeftBehind() noexcept { return gLeftBehind; }

std::string NoAnswerMessage(const char* call) {
  return "Il database non risponde (" + (tPurpose != nullptr ? tPurpose->what_ : std::string(call)) + ")";
}

// What the watchdog knows of one watched call. Guarded by the watchdog's lock.
struct WatchedCall::Watch {
  ISC_ULONG handle = 0;
  Clock::time_point nextStep;
  enum class Stage { Waiting, Cancelled, Aborted } stage = Stage::Waiting;
  // The watchdog is calling the client library for this call, outside its lock.
  bool acting = false;
};

namespace {

// One thread for the process, started by the first watched call, never ended: it sleeps until
// the next deadline of the calls in progress.
class Watchdog {
 public:
  static Watchdog& Instance() {
    // Never destroyed: its thread may still wait on it while the process ends.
    static Watchdog* instance = new Watchdog();
    return *instance;
  }

  // False when no thread can be had for the watchdog: the call is then not bounded.
  bool Add(const std::shared_ptr<WatchedCall::Watch>& watch) noexcept {
    const std::lock_guard lock(mutex_);
    try {
      if (!started_) {
        std::thread([this] { Run(); }).detach();
        started_ = true;
      }
      watches_.push_back(watch);
    } catch (...) {
      return false;
    }
    wake_.notify_all();
    return true;
  }

  // The call answered: from here the watchdog leaves its connection alone. Waits for a
  // cancellation in progress, so that none reaches the connection's next call.
  void Remove(const std::shared_ptr<WatchedCall::Watch>& watch) noexcept {
    std::unique_lock lock(mutex_);
    acted_.wait(lock, [&] { return !watch->acting; });
    watches_.remove(watch);
  }

  std::mutex& Mutex() { return mutex_; }

  // The connections closed on this side, until a new attach gets the same handle.
  bool Closed(ISC_ULONG handle) {
    const std::lock_guard lock(mutex_);
    return closed_.contains(handle);
  }
  void Attached(ISC_ULONG handle) {
    const std::lock_guard lock(mutex_);
    closed_.erase(handle);
  }

 private:
  void Run() {
    ::pthread_setname_np(::pthread_self(), "db-watchdog");
    using Stage = WatchedCall::Watch::Stage;
    std::unique_lock lock(mutex_);
    while (true) {
      // The call whose next step comes first; one whose connection is closed already has none.
      std::shared_ptr<WatchedCall::Watch> due;
      for (const auto& watch : watches_) {
        if (watch->stage != Stage::Aborted && (!due || watch->nextStep < due->nextStep)) due = watch;
      }
      if (!due) {
        wake_.wait(lock);
        continue;
      }
      if (Clock::now() < due->nextStep) {
        wake_.wait_until(lock, due->nextStep);
        continue;
      }
      const bool abort = due->stage == Stage::Cancelled;
      due->stage = abort ? Stage::Aborted : Stage::Cancelled;
      due->nextStep = Clock::now() + kAbortGrace;
      due->acting = true;
      ISC_ULONG handle = due->handle;
      // The library is called without the lock: the run's thread must be able to note its answer
      // meanwhile (it then waits for this step to end).
      lock.unlock();
      platform::trace::Step(abort ? "database call still unanswered: its connection closed on this side"
                                  : "database call unanswered in time: cancelled");
      ISC_STATUS_ARRAY status{};
      Api().cancel_operation(status, &handle, abort ? fb_cancel_abort : fb_cancel_raise);
      lock.lock();
      if (abort) closed_.insert(due->handle);
      due->acting = false;
      acted_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable acted_;
  std::list<std::shared_ptr<WatchedCall::Watch>> watches_;
  std::set<ISC_ULONG> closed_;
  bool started_ = false;
};

}  // namespace

WatchedCall::WatchedCall(const std::uint32_t* database, const char* call, std::chrono::milliseconds extra)
    : watch_(std::make_shared<Watch>()),
      noAnswerText_(NoAnswerMessage(call)),
      closedBefore_(*database != 0 && Watchdog::Instance().Closed(*database)) {
  watch_->handle = *database;
  watch_->nextStep = DeadlineOfACallStartingNow(extra);
  if (!Watchdog::Instance().Add(watch_)) watch_.reset();
}

WatchedCall::~WatchedCall() {
  if (watch_) Watchdog::Instance().Remove(watch_);
}

bool WatchedCall::GaveUp() const noexcept {
  if (!watch_) return false;
  const std::lock_guard lock(Watchdog::Instance().Mutex());
  return watch_->stage != Watch::Stage::Waiting;
}

bool WatchedCall::Aborted() const noexcept {
  if (!watch_) return false;
  const std::lock_guard lock(Watchdog::Instance().Mutex());
  return watch_->stage == Watch::Stage::Aborted;
}

DatabaseError DatabaseErrorOf(const ISC_STATUS* status, const WatchedCall& call, StatusLines lines) {
  DatabaseError error = DatabaseErrorOf(status, lines);
  if (call.GaveUp()) {
    error.GiveUp(call.NoAnswerText(), call.Aborted());
  } else if (call.ClosedBefore()) {
    // The library's own words ("Error writing data to the connection") would hide why.
    error.GiveUp(call.NoAnswerText(), true);
  }
  return error;
}

std::optional<AttachResult> AttachWithin(const std::string& name, const std::vector<std::uint8_t>& dpb) {
  struct Pending {
    std::mutex lock;
    std::condition_variable done;
    std::optional<AttachResult> result;
    bool abandoned = false;
  };
  const Clock::time_point deadline = DeadlineOfACallStartingNow(std::chrono::milliseconds::zero());
  auto pending = std::make_shared<Pending>();
  const auto attach = [](const std::string& name, const std::vector<std::uint8_t>& dpb) {
    AttachResult result;
    ISC_STATUS_ARRAY status{};
    isc_db_handle handle = 0;
    if (Api().attach_database(status, static_cast<short>(name.size()), name.data(), &handle,
                              static_cast<short>(dpb.size()), reinterpret_cast<const ISC_SCHAR*>(dpb.data())) != 0) {
      // Read in the thread of the call: the vector's strings belong to it.
      result.error = DatabaseErrorOf(status, StatusLines::AttachNames);
    } else {
      result.handle = handle;
    }
    return result;
  };
  try {
    std::thread([pending, name, dpb, attach] {
      AttachResult result = attach(name, dpb);
      const std::lock_guard guard(pending->lock);
      if (pending->abandoned) {
        // Nobody waits for this connection any more.
        ISC_STATUS_ARRAY status{};
        isc_db_handle handle = result.handle;
        if (handle != 0) Api().detach_database(status, &handle);
        return;
      }
      pending->result = std::move(result);
      pending->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread of its own the attach waits as long as the library does.
    AttachResult result = attach(name, dpb);
    if (result.handle != 0) Watchdog::Instance().Attached(result.handle);
    return result;
  }
  std::unique_lock guard(pending->lock);
  pending->done.wait_until(guard, deadline, [&] { return pending->result.has_value(); });
  if (!pending->result) {
    pending->abandoned = true;
    gLeftBehind = true;
  } else if (pending->result->handle != 0) {
    Watchdog::Instance().Attached(pending->result->handle);
  }
  return std::move(pending->result);
}

}  // namespace korvane::db
