#include "platform/OwnFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvane::platform {

namespace {

// Why a file of this status is not used; empty when it is.
std::string RefusalOf(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return "symbolic link";
  // A FIFO or a device must not hold the run up or receive its lines.
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (info.st_uid != ::geteuid()) return "owned by another user";
  // Another name of the file may be anywhere, e.g. a system file's.
  if (info.st_nlink != 1) return "more than one hard link";
  return {};
}

}  // namespace

int OpenOwnFile(const char* path, OwnFileAccess access, std::string& refused) {
  const int flags =
      (access == OwnFileAccess::Append ? O_WRONLY : O_RDWR) | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  // Twice at most: a file that appears between the two opens is opened as an existing one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Looked at before it is opened: opening a device may do something by itself.
    if (struct stat info{}; ::lstat(path, &info) == 0) {
      refused = RefusalOf(info);
      if (!refused.empty()) return -1;
    }
    int file = ::open(path, flags);
    if (file < 0 && errno == ENOENT) {
      file = ::open(path, flags | O_CREAT | O_EXCL, 0600);
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

}  // namespace korvane::platform
