#include "platform/Trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace korvane::platform::trace {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> gOn{false};
std::mutex gLock;
int gFile = -1;
Clock::time_point gStart;

// One write per line on a file opened for appending: lines of runs sharing the file never mix.
void WriteLine(const std::string& line) {
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(gFile, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      gOn = false;
      return;
    }
    written += static_cast<std::size_t>(n);
  }
}

// Why a file of this status is not used for the trace; empty when it is.
std::string RefusalOf(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return "symbolic link";
  // A FIFO or a device must not hold the run up or receive its steps.
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (info.st_uid != ::geteuid()) return "owned by another user";
  // Another name of the file may be anywhere, e.g. a system file's.
  if (info.st_nlink != 1) return "more than one hard link";
  return {};
}

// The descriptor of the trace file opened for appending, or -1 with the reason in `refused`.
int OpenOwnFile(const char* path, std::string& refused) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  // Twice at most: a file that appears between the two opens is opened as an existing one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Looked at before it is opened: opening a device may do something by itself.
    if (struct stat info{}; ::lstat(path, &info) == 0) {
      refused = RefusalOf(info);
      if (!refused.empty()) return -1;
    }
    int file = ::open(path, kFlags);
    if (file < 0 && errno == ENOENT) {
      file = ::open(path, kFlags | O_CREAT | O_EXCL, 0600);
      if (file < 0 && errno == EEXIST) continue;
    }
    if (file < 0) {
      refused = errno == ELOOP ? "symbolic link" : std::strerror(errno);
      return -1;
    }
    // What was opened is what counts: the name may have been replaced after the look.
    struct stat info {};
    refused = ::fstat(file, &info) != 0 ? std::strerror(errno) : RefusalOf(info);
    if (refused.empty()) return file;
    ::close(file);
    return -1;
  }
  refused = std::strerror(EEXIST);
  return -1;
}

// The path as the notice shows it: control characters replaced, a very long one cut.
std::string ShownPath(std::string_view path) {
  constexpr std::size_t kShownLength = 1024;
  std::string shown;
  for (const char c : path.substr(0, kShownLength)) {
    shown.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  }
  if (path.size() > kShownLength) shown += "...";
  return shown;
}

}  // namespace

std::string Start(const char* path) noexcept {
  if (path == nullptr || *path == '\0') return {};
  try {
    gStart = Clock::now();
    std::string refused;
    gFile = OpenOwnFile(path, refused);
    if (gFile < 0) return "korvane: trace not written: " + ShownPath(path) + ": " + refused;
    gOn = true;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    Step(std::string("korvane started ") + stamp + ", process " + std::to_string(::getpid()));
    return {};
  } catch (...) {
    // Out of memory before the run has begun: the run goes on without a trace.
    return {};
  }
}

bool On() noexcept { return gOn.load(std::memory_order_relaxed); }

void Step(std::string_view text) noexcept {
  if (!On()) return;
  try {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gStart).count();
    char time[32];
    std::snprintf(time, sizeof time, "%7lld ms  ", static_cast<long long>(elapsed));
    std::string line(time);
    for (const char c : text) line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    line.push_back('\n');
    const std::lock_guard<std::mutex> lock(gLock);
    if (On()) WriteLine(line);
  } catch (...) {
    // Out of memory for a line of the trace: the run goes on without it.
    gOn = false;
  }
}

}  // namespace korvane::platform::trace
