#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace korvane::platform {

class FileLock;

// The folder of the running user's turns: /run/lock/korvane-<uid> (a memory file system, emptied
// at boot, shared by the user's services, cron jobs and sessions), or /tmp/korvane-<uid> on a
// machine without /run/lock.
std::string TurnFolder();

// A turn among the processes of one user on this machine that must not overlap for one key:
// each holds the exclusive lock (flock) of a file named for the key in `folder` while the object
// lives. The system releases it when the process ends, however it ends; the file is removed by
// its last holder. The folder is made on first use (mode 0700) and used only while it is a
// folder of the running user that nobody else may write into.
class MachineTurn {
 public:
  enum class State {
    Taken,        // the turn is this process's
    Busy,         // another process held it for all of `wait`
    Unavailable,  // the folder or the file cannot be used: Reason() says why
  };

  MachineTurn(std::string_view key, std::chrono::milliseconds wait, const std::string& folder = TurnFolder());
  ~MachineTurn();
  MachineTurn(const MachineTurn&) = delete;
  MachineTurn& operator=(const MachineTurn&) = delete;

  State GetState() const { return state_; }
  const std::string& Reason() const { return reason_; }
  // The file of the key's turn.
  const std::string& Path() const { return path_; }

 private:
  State state_ = State::Unavailable;
  std::string reason_;
  std::string path_;
  int file_ = -1;
  std::unique_ptr<FileLock> lock_;
};

}  // namespace korvane::platform
