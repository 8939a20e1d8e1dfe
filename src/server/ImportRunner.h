#pragma once

#include <chrono>
#include <string>
#include <vector>

// One import: the installed korvane run as a child process, its standard output and exit code
// taken as they are.
namespace korvane::server {

struct ImportOutcome {
  int exitCode = 1;       // 0 or 1, as the desktop's korvane.exe exits
  std::string output;     // the child's standard output, byte for byte
  bool overTime = false;  // killed at the service's limit
  std::chrono::milliseconds duration{0};
};

// The message when the service had to end an import: it may have written its row.
std::string OverTimeMessage(std::chrono::milliseconds limit);

class ImportRunner {
 public:
  // `environment` is the child's whole environment ("NAME=value").
  ImportRunner(std::string program, std::vector<std::string> environment, std::chrono::milliseconds limit);

  // Runs the program with `arguments` and waits for its end. The child has no shell, standard
  // input on /dev/null, standard error on the service's, no other descriptor of the service, no
  // blocked or ignored signal, and a process group of its own; past the limit that whole group is
  // killed and the outcome says so. There is no retry. Raises when the child cannot be started.
  ImportOutcome Run(const std::vector<std::string>& arguments) const;

 private:
  std::string program_;
  std::vector<std::string> environment_;
  std::chrono::milliseconds limit_;
};

}  // namespace korvane::server
