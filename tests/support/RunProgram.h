#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace korvane::testing {

struct ProgramResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, if any
  std::string out;
  std::string err;
};

// Where the child's standard output goes: a pipe the test reads, or one of the places a caller
// may leave it: a full device, no descriptor at all, a pipe whose reader has already gone, a
// pipe already full whose reader never reads (a write to it blocks).
enum class StdoutTo { Captured, FullDevice, Closed, GoneReader, FullPipe };

// Runs a program as a child process with the given arguments and extra environment
// variables, with standard input on /dev/null, and captures both output streams.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {},
                         const std::string& workingDirectory = {}, StdoutTo stdoutTo = StdoutTo::Captured);

// A program started as a child process like RunProgram's, left running: the test may signal it
// by its process id, then waits for its end with a time limit. The child starts with no signal
// blocked and SIGTERM, SIGINT and SIGHUP at their default action, whatever the test process has.
// A child still running when the object goes is killed.
class StartedProgram {
 public:
  StartedProgram(const std::string& path, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {}, const std::string& workingDirectory = {},
                 StdoutTo stdoutTo = StdoutTo::Captured);
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  pid_t Pid() const { return pid_; }
  // Collects the output until the program has ended; false when `milliseconds` pass first
  // (a negative limit waits for ever). After a true, Result() holds everything.
  bool Wait(int milliseconds);
  const ProgramResult& Result() const { return result_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int pipes_[2] = {-1, -1};  // the read ends of standard output and standard error
  int fullPipeReader_ = -1;  // kept open, never read: StdoutTo::FullPipe
  ProgramResult result_;
};

}  // namespace korvane::testing
