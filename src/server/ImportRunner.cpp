#include "server/ImportRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Exception.h"

namespace korvane::server {

namespace {

using Clock = std::chrono::steady_clock;

// The importer prints one line; anything past this is read and dropped.
constexpr std::size_t kMaxOutput = 1024 * 1024;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

[[noreturn]] void Fail(const char* what, int error) {
  throw Exception(std::string(what) + ": " + std::strerror(error));
}

int Milliseconds(Clock::duration duration) {
  const auto count = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
  return count < 0 ? 0 : static_cast<int>(std::min<long long>(count, 60'000));
}

// Appends what one read gives; false once the output has ended (or nothing more is there to read
// without waiting, for a descriptor that does not block).
bool ReadSome(int fd, std::string& output) {
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got < 0) return errno == EINTR;
  if (got > 0 && output.size() < kMaxOutput) {
    output.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(got), kMaxOutput - output.size()));
  }
  return got > 0;
}

}  // namespace

std::string OverTimeMessage(std::chrono::milliseconds limit) {
  return "Esito dell'importazione non verificabile (interrotta dal servizio dopo " +
         std::to_string(std::chrono::ceil<std::chrono::seconds>(limit).count()) + " s)\r\n";
}

ImportRunner::ImportRunner(std::string program, std::vector<std::string> environment, std::chrono::milliseconds limit)
    : program_(std::move(program)), environment_(std::move(environment)), limit_(limit) {}

ImportOutcome ImportRunner::Run(const std::vector<std::string>& arguments) const {
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit_;

  int pipeEnds[2];
  // Close-on-exec, so an import started at the same time by another thread never holds this one's
  // write end (its output would then never end).
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) Fail("pipe", errno);
  Descriptor reader(pipeEnds[0]);
  Descriptor writer(pipeEnds[1]);

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions_, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions_, writer.Get(), 1);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions_, 3);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes_, &none);
  posix_spawnattr_setsigdefault(&setup.attributes_, &all);
  posix_spawnattr_setpgroup(&setup.attributes_, 0);
  posix_spawnattr_setflags(&setup.attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP |
                                                   POSIX_SPAWN_USEVFORK);

  std::vector<char*> argv{const_cast<char*>(program_.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& variable : environment_) envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, program_.c_str(), &setup.actions_, &setup.attributes_, argv.data(), envp.data());
  if (spawned != 0) Fail(program_.c_str(), spawned);
  writer.Close();

  Descriptor process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  ImportOutcome outcome;
  bool outputEnded = false;
  bool exited = false;
  while (!exited) {
    pollfd events[2] = {{outputEnded ? -1 : reader.Get(), POLLIN, 0}, {process.Get(), POLLIN, 0}};
    const int timeout = Milliseconds(deadline - Clock::now());
    const int ready = ::poll(events, 2, process.Get() < 0 && outputEnded ? std::min(timeout, 10) : timeout);
    if (ready < 0 && errno != EINTR) Fail("poll", errno);
    if (!outputEnded && (events[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      outputEnded = !ReadSome(reader.Get(), outcome.output);
    }
    // The child has ended once its output has (it closes it at exit) and waitpid says so.
    if (outputEnded || (events[1].revents & POLLIN) != 0) {
      int status = 0;
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) {
        exited = true;
        // What it wrote before its end is all in the pipe (unless something it started still
        // holds the pipe open: that is not waited for).
        ::fcntl(reader.Get(), F_SETFL, O_NONBLOCK);
        while (!outputEnded) outputEnded = !ReadSome(reader.Get(), outcome.output);
        outcome.exitCode = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        if (WIFSIGNALED(status) && outcome.output.empty()) {
          outcome.output = "Esito dell'importazione non verificabile (terminata dal segnale " +
                           std::to_string(WTERMSIG(status)) + ")\r\n";
        }
        break;
      }
    }
    if (Clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      outcome.exitCode = 1;
      outcome.output = OverTimeMessage(limit_);
      outcome.overTime = true;
      break;
    }
  }
  outcome.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return outcome;
}

}  // namespace korvane::server
