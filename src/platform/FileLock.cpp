#include "platform/FileLock.h"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace korvane::platform {

FileLock::FileLock(int file, std::chrono::milliseconds wait) : file_(file) {
  // Asked without blocking and asked again after a pause, so that the wait has its bound.
  const auto end = std::chrono::steady_clock::now() + wait;
  std::chrono::milliseconds pause{1};
  for (;;) {
    if (::flock(file_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      reason_ = std::strerror(errno);
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, end - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  busy_ = true;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  reason_ = "locked by another process for more than " +
            (seconds == wait ? std::to_string(seconds.count()) + " s" : std::to_string(wait.count()) + " ms");
}

FileLock::~FileLock() {
  if (held_) ::flock(file_, LOCK_UN);
}

}  // namespace korvane::platform
