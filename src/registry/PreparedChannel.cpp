#include "registry/PreparedChannel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/Exception.h"
#include "registry/TlsConnection.h"

namespace korvane::registry {

namespace {

// How long a channel given up waits for its thread to finish letting go.
constexpr std::chrono::milliseconds kTeardownWait{200};
// How long a channel given up waits, at the most, for a step inside the TLS library that is
// already running (milliseconds of computation, or reading the trust store); one held longer (a
// file that never opens) is left to end by itself.
constexpr std::chrono::milliseconds kLibraryStepWait{2000};

}  // namespace

// Shared by the run and the preparing thread; whichever lets go last frees it. The thread may
// outlive the run's interest (a name lookup cannot be interrupted), so it owns what it touches.
struct PreparedChannel::Shared {
  ~Shared() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  std::mutex lock;
  std::condition_variable changed;
  bool cancelled = false;
  bool inLibrary = false;  // the thread is inside a step of the TLS library
  bool done = false;
  std::unique_ptr<TlsConnection> connection;
  std::exception_ptr failure;
  Deadline::Clock::time_point readyAt;
  // The end of the exchange as the preparation counts it: no wait for the thread lasts longer.
  Deadline::Clock::time_point exchangeEnd;
  int wakeFd = -1;
};

PreparedChannel::PreparedChannel(ChannelTarget target, std::shared_ptr<Shared> shared, std::thread thread)
    : target_(std::move(target)), shared_(std::move(shared)), thread_(std::move(thread)) {}

std::unique_ptr<PreparedChannel> PreparedChannel::Start(const ChannelTarget& target,
                                                        const ChannelSettings& settings) noexcept {
  try {
    auto shared = std::make_shared<Shared>();
    shared->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared->wakeFd < 0) return nullptr;
    const Deadline deadline(settings.exchangeLimitMs);
    shared->exchangeEnd = deadline.End();
    std::thread thread([shared, target, settings, deadline] {
      LibraryGate gate;
      gate.enter = [&] {
        const std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->cancelled) throw WaitCancelled();
        shared->inLibrary = true;
      };
      gate.leave = [&] {
        const std::lock_guard<std::mutex> guard(shared->lock);
        shared->inLibrary = false;
        shared->changed.notify_all();
      };
      std::unique_ptr<TlsConnection> connection;
      std::exception_ptr failure;
      try {
        connection = OpenTlsConnection(target, settings, deadline, shared->wakeFd, gate);
      } catch (const WaitCancelled&) {
        // given up: nobody asks for the outcome
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> guard(shared->lock);
      if (shared->cancelled) connection.reset();  // the close alert, before the run may end
      shared->connection = std::move(connection);
      shared->failure = failure;
      shared->readyAt = Deadline::Clock::now();
      shared->inLibrary = false;
      shared->done = true;
      shared->changed.notify_all();
    });
    return std::unique_ptr<PreparedChannel>(new PreparedChannel(target, std::move(shared), std::move(thread)));
  } catch (...) {
    return nullptr;  // no thread: the client opens its connection when it needs it
  }
}

PreparedChannel::~PreparedChannel() {
  std::unique_ptr<TlsConnection> unused;
  {
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->cancelled = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(shared_->wakeFd, &one, sizeof one);
    const auto libraryStepEnd = std::min(shared_->exchangeEnd, Deadline::Clock::now() + kLibraryStepWait);
    const bool outOfLibrary = shared_->changed.wait_until(guard, libraryStepEnd, [&] { return !shared_->inLibrary; });
    // Woken, the thread lets go of what it holds within milliseconds; a run that ends meanwhile
    // would leave the process with its objects half released. Only a name lookup or a library
    // step that is held can hold it longer, and those are not waited for.
    const bool done = outOfLibrary && shared_->changed.wait_for(guard, kTeardownWait, [&] { return shared_->done; });
    unused = std::move(shared_->connection);
    guard.unlock();
    // Joined, the thread has also released what the TLS library keeps for each thread.
    if (done) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
}

std::unique_ptr<TlsConnection> PreparedChannel::Take() {
  std::unique_lock<std::mutex> guard(shared_->lock);
  // A preparation held where it cannot be woken (a trust-store file that never opens) still ends
  // the exchange at its time.
  if (!shared_->changed.wait_until(guard, shared_->exchangeEnd, [&] { return shared_->done; })) {
    Deadline::RaiseExchangeTimedOut();
  }
  if (shared_->failure) std::rethrow_exception(std::exchange(shared_->failure, nullptr));
  std::unique_ptr<TlsConnection> connection = std::move(shared_->connection);
  if (!connection) throw Exception("Not Connected");
  connection->wakeFd = -1;
  connection->deadline.Postpone(Deadline::Clock::now() - shared_->readyAt);
  return connection;
}

}  // namespace korvane::registry
