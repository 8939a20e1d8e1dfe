#include "EngineLocks.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>

namespace korvane::soak {

namespace {

// Every shared file starts with the engine's memory header: three 16-bit fields, a timestamp,
// then the file's mutex.
constexpr std::size_t kMutexOffset = 0x10;

// glibc's layout of a mutex on Linux: the lock word, the recursion count, the owner's thread id,
// the number of users, the kind.
struct MutexWords {
  int lock;
  unsigned count;
  int owner;
  unsigned users;
  int kind;
};

// A process-shared mutex of the normal kind: the one kind whose dead owner nobody notices.
constexpr int kSharedNormalKind = 128;

bool ThreadExists(int tid) { return ::kill(tid, 0) == 0 || errno == EPERM; }

}  // namespace

std::vector<DeadOwner> ReleaseDeadOwners(const std::string& lockFolder) {
  std::vector<DeadOwner> released;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(lockFolder, error)) {
    if (!entry.is_regular_file(error)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kMutexOffset + sizeof(pthread_mutex_t))) {
      ::close(fd);
      continue;
    }
    void* mapped = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) continue;
    auto* words = reinterpret_cast<MutexWords*>(static_cast<char*>(mapped) + kMutexOffset);
    auto* lock = reinterpret_cast<std::atomic<int>*>(&words->lock);
    const int owner = words->owner;
    if (words->kind == kSharedNormalKind && lock->load() != 0 && owner > 0 && !ThreadExists(owner)) {
      // What pthread_mutex_unlock would have done, had the owner lived to call it.
      words->owner = 0;
      if (words->users > 0) --words->users;
      lock->store(0);
      ::syscall(SYS_futex, &words->lock, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
      released.push_back({entry.path().filename().string(), owner});
    }
    ::munmap(mapped, 4096);
  }
  return released;
}

}  // namespace korvane::soak
