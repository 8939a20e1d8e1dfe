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
  // Writes the bytes at the end of the file in one write; raises Exception with the system's
  // text when they cannot all be written, the file then cut back to its size before. A tail
  // without a line end is cut off before anything is written (noted in the trace).
  void Append(std::string_view bytes);
  // Calls `each` with the file's lines, from the last one backwards, each without its LF, until
  // it returns false or the first line has been given. Text after the last LF counts as a line.
  void ReadLinesBackwards(const std::function<bool(std::string_view)>& each) const;

 private:
  // The size of the file up to its last line end (0 without one).
  off_t WholeLinesEnd() const;

  int file_ = -1;
};

}  // namespace korvane::platform
