#pragma once

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

// Runs a program as a child process with the given arguments and extra environment
// variables, with standard input closed, and captures both output streams.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {},
                         const std::string& workingDirectory = {});

}  // namespace korvane::testing
