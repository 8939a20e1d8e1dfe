#pragma once

// The embedded engine keeps its shared state (lock tables, trace and user-mapping caches, the
// monitoring snapshot) in files of its lock folder (FIREBIRD_LOCK), each headed by a process-shared
// mutex that is not robust: a process that dies while it holds one (SIGKILL, or _exit from another
// thread) leaves it held, and every later process that uses the embedded engine with that folder
// waits for it for ever. The soak gives its runs a lock folder of their own, so that nothing it
// does reaches the machine's other users of the engine (the database server among them), and
// looks for such mutexes after every run that ended abruptly.

#include <string>
#include <vector>

namespace korvane::soak {

struct DeadOwner {
  std::string file;
  int tid = 0;
};

// Releases every mutex in the folder's files whose owner thread no longer exists, and wakes its
// waiters; says which. Only for a folder no other party relies on.
std::vector<DeadOwner> ReleaseDeadOwners(const std::string& lockFolder);

}  // namespace korvane::soak
