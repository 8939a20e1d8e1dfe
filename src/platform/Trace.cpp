#include "platform/Trace.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/OwnFile.h"

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

std::string Start(const char* path, std::string_view program) noexcept {
  if (path == nullptr || *path == '\0') return {};
  try {
    gStart = Clock::now();
    std::string refused;
    gFile = OpenOwnFile(path, OwnFileAccess::Append, refused);
    if (gFile < 0) return "korvane: trace not written: " + ShownPath(path) + ": " + refused;
    gOn = true;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    Step(std::string(program) + " started " + stamp + ", process " + std::to_string(::getpid()));
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
    for (const char c : text) {
      if (c == '\r') {
        line += "\\r";
      } else if (c == '\n') {
        line += "\\n";
      } else {
        line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
      }
    }
    line.push_back('\n');
    const std::lock_guard<std::mutex> lock(gLock);
    if (On()) WriteLine(line);
  } catch (...) {
    // Out of memory for a line of the trace: the run goes on without it.
    gOn = false;
  }
}

}  // namespace korvane::platform::trace
