#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FileLock.h"

namespace korvane::platform {

// A file of lines that concurrent processes read and append to, each of them holding the file's
// exclusive lock while it does; opened with OpenOwnFile's rules. The lines end with LF.
class SharedLineFile {
 public:
  // Opens (or creates) the file for reading and appending; raises Exception with the reason
  // (OpenOwnFile's, or the system's text).
  explicit SharedLineFile(const std::string& path);
  ~SharedLineFile();
  SharedLineFile(const SharedLineFile&) = delete;
  SharedLineFile& operator=(const SharedLineFile&) = delete;

  // Takes the file's exclusive lock, waiting for it at most `wait`; raises Exception with the
  // reason when it cannot be had. The lock is held until the result goes.
  std::unique_ptr<FileLock> Lock(std::chrono::milliseconds wait);

  // The following read or change the file, and are called under the lock.
  bool Empty() const;
  // The size of the file up to its last line end (0 without one): where its whole lines end.
  off_t WholeLinesEnd() const;
  // Writes the bytes at the end of the file in one write and returns the file's size after them;
  // raises Exception with the system's text when they cannot all be written, the file then cut
  // back to its size before. A tail without a line end is cut off before anything is written
  // (noted in the trace).
  off_t Append(std::string_view bytes);
  // Calls `each` with the file's whole lines, from the last one backwards, each without its LF,
  // until it returns false or the first line has been given. A tail without its line end is not
  // a line (the next append cuts it off).
  void ReadLinesBackwards(const std::function<bool(std::string_view)>& each) const;
  // Calls `each` with the whole lines between `from` and `to`, in order, each without its LF;
  // `from` is 0 or just after a line end, `to` just after one.
  void ReadLines(off_t from, off_t to, const std::function<void(std::string_view)>& each) const;
  // True when a line starts at `offset` (0, or the byte before it is a line end) and the file
  // holds `offset` bytes at least: a place read up to before is still where it was.
  bool LineStartsAt(off_t offset) const;

 private:
  // Reads exactly [start, start + size) of the file; raises Exception when it cannot.
  std::string ReadBytes(off_t start, std::size_t size) const;

  int file_ = -1;
};

}  // namespace korvane::platform
