#pragma once

#include <chrono>
#include <string>

namespace korvane::platform {

// An exclusive lock (flock) on an open file, held while the object lives. The system releases it
// with the descriptor's last close, so a process that ends, however it ends, never leaves it held.
class FileLock {
 public:
  // Waits at most `wait` for the lock on `file`, which stays the caller's to close. Held() tells
  // whether it was had; when not, Reason() says why (the wait ran out, or the system's text).
  FileLock(int file, std::chrono::milliseconds wait);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return held_; }
  // Not had because another holder kept it for all of the wait.
  bool Busy() const { return busy_; }
  const std::string& Reason() const { return reason_; }

 private:
  int file_;
  bool held_ = false;
  bool busy_ = false;
  std::string reason_;
};

}  // namespace korvane::platform
