#include "platform/SharedLineFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Exception.h"
#include "platform/OwnFile.h"
#include "platform/Trace.h"

namespace korvane::platform {

namespace {

// Read in blocks of this size (from the end backwards, a long file's older part is never read).
constexpr std::size_t kBlock = 64 * 1024;

[[noreturn]] void RaiseSystemError() { throw Exception(std::strerror(errno)); }

}  // namespace

SharedLineFile::SharedLineFile(const std::string& path) {
  std::string refused;
  file_ = OpenOwnFile(path.c_str(), OwnFileAccess::ReadAndAppend, refused);
  if (file_ < 0) throw Exception(refused);
}

SharedLineFile::~SharedLineFile() {
  if (file_ >= 0) ::close(file_);
}

std::unique_ptr<FileLock> SharedLineFile::Lock(std::chrono::milliseconds wait) {
  auto lock = std::make_unique<FileLock>(file_, wait);
  if (!lock->Held()) throw Exception(lock->Reason());
  return lock;
}

bool SharedLineFile::Empty() const {
  struct stat info {};
  if (::fstat(file_, &info) != 0) RaiseSystemError();
  return info.st_size == 0;
}

off_t SharedLineFile::WholeLinesEnd() const {
  struct stat info {};
  if (::fstat(file_, &info) != 0) RaiseSystemError();
  off_t end = info.st_size;
  char last = '\n';
  while (end > 0) {
    const ssize_t n = ::pread(file_, &last, 1, end - 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) RaiseSystemError();
    if (last == '\n') break;
    --end;
  }
  return end;
}

bool SharedLineFile::LineStartsAt(off_t offset) const {
  if (offset == 0) return true;
  struct stat info {};
  if (::fstat(file_, &info) != 0) RaiseSystemError();
  return info.st_size >= offset && ReadBytes(offset - 1, 1) == "\n";
}

std::string SharedLineFile::ReadBytes(off_t start, std::size_t size) const {
  std::string bytes(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(file_, bytes.data() + got, size - got, start + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseSystemError();
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

off_t SharedLineFile::Append(std::string_view bytes) {
  // A tail without its line end (a crash, a full disk before) would run into the first line
  // written now: it is cut off first, so that every line is whole.
  struct stat info {};
  if (::fstat(file_, &info) != 0) RaiseSystemError();
  const off_t before = WholeLinesEnd();
  if (before != info.st_size) {
    if (::ftruncate(file_, before) != 0) RaiseSystemError();
    trace::Step("torn tail cut: " + std::to_string(info.st_size - before) + " bytes without a line end");
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(file_, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int failure = n == 0 ? ENOSPC : errno;
      // What went out of a failed append is taken back: the lines are whole or absent.
      while (::ftruncate(file_, before) != 0 && errno == EINTR) {
      }
      throw Exception(std::strerror(failure));
    }
    written += static_cast<std::size_t>(n);
  }
  return before + static_cast<off_t>(written);
}

void SharedLineFile::ReadLinesBackwards(const std::function<bool(std::string_view)>& each) const {
  off_t end = WholeLinesEnd();
  // The tail of the line being gathered: what has been read of it so far, from its start onwards.
  std::string line;
  bool atEnd = true;
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(kBlock) ? end - static_cast<off_t>(kBlock) : 0;
    std::string block = ReadBytes(start, static_cast<std::size_t>(end - start));
    // The file's last LF ends the last line, not an empty one after it.
    if (atEnd && !block.empty() && block.back() == '\n') block.pop_back();
    atEnd = false;
    std::size_t stop = block.size();
    for (;;) {
      const std::size_t lf = stop == 0 ? std::string::npos : block.rfind('\n', stop - 1);
      if (lf == std::string::npos) break;
      line.insert(0, block, lf + 1, stop - lf - 1);
      if (!each(line)) return;
      line.clear();
      stop = lf;
    }
    line.insert(0, block, 0, stop);
    end = start;
  }
  if (!atEnd) each(line);
}

void SharedLineFile::ReadLines(off_t from, off_t to, const std::function<void(std::string_view)>& each) const {
  // The part of a line that the last block cut off, completed by the next one.
  std::string partial;
  while (from < to) {
    const auto size = static_cast<std::size_t>(std::min<off_t>(to - from, static_cast<off_t>(kBlock)));
    const std::string block = ReadBytes(from, size);
    if (block.empty()) break;
    from += static_cast<off_t>(block.size());
    std::size_t start = 0;
    for (std::size_t lf; (lf = block.find('\n', start)) != std::string::npos; start = lf + 1) {
      if (partial.empty()) {
        each(std::string_view(block).substr(start, lf - start));
      } else {
        partial.append(block, start, lf - start);
        each(partial);
        partial.clear();
      }
    }
    partial.append(block, start);
  }
}

}  // namespace korvane::platform
