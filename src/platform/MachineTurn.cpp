#include "platform/MachineTurn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/FileLock.h"

namespace korvane::platform {

namespace {

// The key's file name: its FNV-1a hash, so that any key (a path, a VAT number) gives a short,
// plain name. Two keys that meet on one name only take turns they did not need.
std::string FileNameOf(std::string_view key) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  char name[32];
  std::snprintf(name, sizeof name, "turn-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// Why the folder cannot hold the turns; empty when it can (made now when missing).
std::string FolderRefusal(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return folder + ": " + std::strerror(errno);
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return folder + ": " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return folder + ": not a folder";
  if (info.st_uid != ::geteuid()) return folder + ": owned by another user";
  if ((info.st_mode & 0077) != 0) return folder + ": open to other users";
  return {};
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::string TurnFolder() {
  struct stat info {};
  const bool runLock = ::stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode);
  return std::string(runLock ? "/run/lock" : "/tmp") + "/korvane-" + std::to_string(::geteuid());
}

MachineTurn::MachineTurn(std::string_view key, std::chrono::milliseconds wait, const std::string& folder)
    : path_(folder + "/" + FileNameOf(key)) {
  reason_ = FolderRefusal(folder);
  if (!reason_.empty()) return;
  const auto end = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const int file = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (file < 0) {
      reason_ = path_ + ": " + std::strerror(errno);
      return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    auto lock = std::make_unique<FileLock>(file, std::max(left, std::chrono::milliseconds(0)));
    if (!lock->Held()) {
      state_ = lock->Busy() ? State::Busy : State::Unavailable;
      reason_ = path_ + ": " + (lock->Busy() ? "held by another process" : lock->Reason());
      lock.reset();
      ::close(file);
      return;
    }
    // A holder that was done removed the file the lock was had on: the turn is on the file now
    // at the path, which the next try opens.
    struct stat opened {
    }, named{};
    if (::fstat(file, &opened) == 0 && ::stat(path_.c_str(), &named) == 0 && SameFile(opened, named)) {
      file_ = file;
      lock_ = std::move(lock);
      state_ = State::Taken;
      return;
    }
    lock.reset();
    ::close(file);
  }
}

MachineTurn::~MachineTurn() {
  if (file_ < 0) return;
  // Removed while held: a process that opened it meanwhile finds, once it has the lock, that it
  // holds a file that is no longer there, and opens the path again.
  ::unlink(path_.c_str());
  lock_.reset();
  ::close(file_);
}

}  // namespace korvane::platform
