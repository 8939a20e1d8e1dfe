#include "RunProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace korvane::soak {

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

void StartProcess(RunRecord& record) {
  const FaultKind fault = record.plan.fault.kind;
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  int childOut = -1;
  switch (fault) {
    case FaultKind::StdoutClosed: posix_spawn_file_actions_addclose(&actions, 1); break;
    case FaultKind::StdoutFull: posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0); break;
    case FaultKind::StdoutBlocked: {
      if (pipe2(outPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
      const std::string filler(4096, 'x');
      while (write(outPipe[1], filler.data(), filler.size()) > 0) {
      }
      fcntl(outPipe[1], F_SETFL, 0);  // blocking, as a caller's pipe is
      record.heldFd = outPipe[0];
      childOut = outPipe[1];
      break;
    }
    case FaultKind::StdoutGone: {
      if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      close(outPipe[0]);
      childOut = outPipe[1];
      break;
    }
    default:
      if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      record.outFd = outPipe[0];
      childOut = outPipe[1];
      break;
  }
  if (childOut >= 0) posix_spawn_file_actions_adddup2(&actions, childOut, 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  // Nothing of the soak's (the database client's sockets among them) reaches the run.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  record.outputSeen = record.outFd >= 0 && fault != FaultKind::StdoutAbandoned;

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);  // a Ctrl-C meant for the soak is not the runs'
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> argv{record.program.data()};
  for (std::string& argument : record.arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : record.environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  record.start = Clock::now();
  const int failed = posix_spawn(&record.pid, record.program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (childOut >= 0) close(childOut);
  close(errPipe[1]);
  record.errFd = errPipe[0];
  if (failed != 0) throw std::runtime_error("cannot start " + record.program + ": " + std::strerror(failed));
  record.launched = true;
  if (record.outFd >= 0) SetNonBlocking(record.outFd);
  SetNonBlocking(record.errFd);
}

void ReadOutputs(std::vector<RunRecord>& records, const std::vector<std::size_t>& running, int waitMs) {
  std::vector<pollfd> watched;
  std::vector<std::pair<std::size_t, bool>> owners;  // record, standard output (else error)
  for (const std::size_t index : running) {
    const RunRecord& record = records[index];
    if (record.outFd >= 0) {
      watched.push_back({record.outFd, POLLIN, 0});
      owners.emplace_back(index, true);
    }
    if (record.errFd >= 0) {
      watched.push_back({record.errFd, POLLIN, 0});
      owners.emplace_back(index, false);
    }
  }
  if (watched.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return;
  }
  if (poll(watched.data(), watched.size(), waitMs) <= 0) return;
  char buffer[4096];
  for (std::size_t i = 0; i < watched.size(); ++i) {
    if (watched[i].revents == 0) continue;
    RunRecord& record = records[owners[i].first];
    int& fd = owners[i].second ? record.outFd : record.errFd;
    std::string& sink = owners[i].second ? record.out : record.err;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      if (owners[i].second && record.out.empty()) {
        record.lineMs = std::chrono::duration<double, std::milli>(Clock::now() - record.start).count();
      }
      sink.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EAGAIN) {
      close(fd);
      fd = -1;
    }
  }
}

void DrainOutputs(RunRecord& record) {
  const bool lineSeen = !record.out.empty();
  char buffer[4096];
  for (auto [fd, sink] : {std::pair{&record.outFd, &record.out}, std::pair{&record.errFd, &record.err}}) {
    if (*fd < 0) continue;
    fcntl(*fd, F_SETFL, fcntl(*fd, F_GETFL) & ~O_NONBLOCK);
    for (ssize_t got; (got = read(*fd, buffer, sizeof buffer)) > 0;)
      sink->append(buffer, static_cast<std::size_t>(got));
    close(*fd);
    *fd = -1;
  }
  // A line that came with the end.
  if (!lineSeen && !record.out.empty()) record.lineMs = record.durationMs;
  if (record.heldFd >= 0) {
    close(record.heldFd);
    record.heldFd = -1;
  }
}

// Whether the process has touched its signals (blocked, ignored or caught any of the 31 classic
// ones; the C library keeps two real-time signals of its own ignored from the start): until it
// has, it is still in its first instants (the loader, or the first lines of main), where a stop
// signal's default action ends it. Read from /proc just before the signal is sent.
bool TouchedItsSignals(pid_t pid) {
  constexpr std::uint64_t kClassicSignals = (std::uint64_t{1} << 31) - 1;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  std::uint64_t touched = 0;
  while (std::getline(status, line)) {
    for (const char* name : {"SigBlk:", "SigIgn:", "SigCgt:"}) {
      if (line.rfind(name, 0) == 0) touched |= std::stoull(line.substr(std::string(name).size()), nullptr, 16);
    }
  }
  return (touched & kClassicSignals) != 0;
}

}  // namespace korvane::soak
