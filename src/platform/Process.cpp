#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/CallWithin.h"
#include "platform/Exception.h"

namespace korvane::platform {

namespace {

// Writes a short line in one write once the descriptor reports room, waiting at most `limit` for
// that: a pipe that reports room takes a line this short whole, without waiting. True when all
// of it was written.
bool WriteOnceWritable(int descriptor, const std::string& line, std::chrono::milliseconds limit) noexcept {
  pollfd target{descriptor, POLLOUT, 0};
  if (::poll(&target, 1, static_cast<int>(limit.count())) != 1 || (target.revents & POLLOUT) == 0) return false;
  return ::write(descriptor, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

// The lines of WriteStdoutLineWithin that are over (written whole, or failed).
std::atomic<std::uint64_t> gStdoutLinesOver{0};

}  // namespace

std::string ProgramFilePath() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string NotOpenableFileReason(const std::string& path) {
  struct stat info {};
  if (path.empty()) return {};
  if (::stat(path.c_str(), &info) != 0) return errno == ELOOP ? std::strerror(ELOOP) : std::string();
  return S_ISREG(info.st_mode) ? std::string() : "not a regular file";
}

std::optional<std::uint64_t> FreeSpace(const std::string& path) {
  std::filesystem::path at = path.empty() ? std::filesystem::path(".") : std::filesystem::path(path);
  while (true) {
    struct statvfs info {};
    if (::statvfs(at.c_str(), &info) == 0) {
      // Root may also use the blocks kept back for it.
      const std::uint64_t blocks = ::geteuid() == 0 ? info.f_bfree : info.f_bavail;
      return blocks * info.f_frsize;
    }
    if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
    std::filesystem::path parent = at.parent_path();
    if (parent.empty()) parent = ".";
    if (parent == at) return std::nullopt;
    at = std::move(parent);
  }
}

void OpenStandardDescriptors() noexcept {
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the one that is closed.
    const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != descriptor) {
      ::dup2(opened, descriptor);
      ::close(opened);
    }
  }
}

void UseUtf8CharacterType() noexcept { std::setlocale(LC_CTYPE, "C.UTF-8"); }

void IgnoreWriteSignals() noexcept {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::optional<std::uint64_t> FileSizeLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

void WriteStdout(std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception(std::string("Cannot write to standard output: ") + std::strerror(errno));
    written += static_cast<std::size_t>(n);
  }
}

void WriteStdoutLine(std::string_view utf8) {
  std::string line(utf8);
  line += "\r\n";
  WriteStdout(line);
}

bool WriteStdoutLineWithin(std::string_view utf8, std::chrono::milliseconds limit) noexcept {
  try {
    // A write blocks for as long as the reader does not read, whatever the descriptor is; the
    // thread that makes it can be left behind, the caller cannot.
    return CallWithin<bool>(
               [line = std::string(utf8)] {
                 bool written = false;
                 try {
                   WriteStdoutLine(line);
                   written = true;
                 } catch (...) {
                 }
                 ++gStdoutLinesOver;
                 return written;
               },
               std::chrono::steady_clock::now() + limit)
        .value_or(false);
  } catch (...) {
    // No thread to spare: write only when standard output takes bytes without waiting.
    std::string line(utf8);
    line += "\r\n";
    const bool written = WriteOnceWritable(STDOUT_FILENO, line, limit);
    ++gStdoutLinesOver;
    return written;
  }
}

std::uint64_t StdoutLinesOver() noexcept { return gStdoutLinesOver; }

bool AwaitStdoutLinesOver(std::uint64_t count, std::chrono::milliseconds limit) noexcept {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (gStdoutLinesOver < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(2000);
  }
  return true;
}

void WriteStderrLine(std::string_view text, std::chrono::milliseconds limit) noexcept {
  try {
    std::string line(text);
    line += '\n';
    WriteOnceWritable(STDERR_FILENO, line, limit);
  } catch (...) {
    // No memory for the line: the notice is dropped.
  }
}

}  // namespace korvane::platform
