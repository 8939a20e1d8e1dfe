#include "support/RunProgram.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace korvane::testing {

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment, const std::string& workingDirectory,
                         StdoutTo stdoutTo) {
  StartedProgram program(path, arguments, environment, workingDirectory, stdoutTo);
  program.Wait(-1);
  return program.Result();
}

StartedProgram::StartedProgram(const std::string& path, const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::string& workingDirectory, StdoutTo stdoutTo) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    throw std::runtime_error("pipe failed");
  }

  // Everything the child needs is built before fork: the test process has other threads (the
  // database client's, a test server's), and a child of such a process may only make
  // async-signal-safe calls until exec; an allocation there can wait forever on a lock that
  // another thread held at the moment of the fork.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (environment.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
  }
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // The child's standard output when the test does not read it: -1 leaves descriptor 1 closed.
  int elsewhere = -1;
  if (stdoutTo == StdoutTo::FullDevice) elsewhere = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (stdoutTo == StdoutTo::GoneReader) {
    int gone[2];
    if (pipe2(gone, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    close(gone[0]);
    elsewhere = gone[1];
  }
  if (stdoutTo == StdoutTo::FullPipe) {
    int full[2];
    if (pipe2(full, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
    const std::string filler(4096, 'x');
    while (write(full[1], filler.data(), filler.size()) > 0) {
    }
    fcntl(full[1], F_SETFL, 0);  // blocking, as a caller's pipe is
    fullPipeReader_ = full[0];
    elsewhere = full[1];
  }

  pid_ = fork();
  if (pid_ < 0) {
    if (elsewhere >= 0) close(elsewhere);
    for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) signal(number, SIG_DFL);
    // As a shell leaves them, whatever the test process (a TLS server ignores SIGPIPE) has.
    if (stdoutTo != StdoutTo::Captured) {
      for (const int number : {SIGPIPE, SIGXFSZ}) signal(number, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    if (stdoutTo == StdoutTo::Captured) {
      dup2(outPipe[1], STDOUT_FILENO);
    } else if (elsewhere >= 0) {
      dup2(elsewhere, STDOUT_FILENO);
    } else {
      close(STDOUT_FILENO);
    }
    dup2(errPipe[1], STDERR_FILENO);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(127);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (elsewhere >= 0) close(elsewhere);
  close(outPipe[1]);
  close(errPipe[1]);
  pipes_[0] = outPipe[0];
  pipes_[1] = errPipe[0];
}

StartedProgram::~StartedProgram() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    Wait(-1);
  }
  for (const int fd : pipes_) {
    if (fd >= 0) close(fd);
  }
  if (fullPipeReader_ >= 0) close(fullPipeReader_);
}

bool StartedProgram::Wait(int milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  auto remaining = [&] {
    if (milliseconds < 0) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
  };
  if (ended_) return true;

  std::string* sinks[2] = {&result_.out, &result_.err};
  while (pipes_[0] >= 0 || pipes_[1] >= 0) {
    pollfd fds[2] = {{pipes_[0], POLLIN, 0}, {pipes_[1], POLLIN, 0}};
    const int ready = poll(fds, 2, remaining());
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(pipes_[i]);
        pipes_[i] = -1;
      }
    }
  }
  // Both streams are closed; the process is ending.
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid_, &status, milliseconds < 0 ? 0 : WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (done == 0) {
      if (remaining() == 0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  ended_ = true;
  if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  return true;
}

}  // namespace korvane::testing
