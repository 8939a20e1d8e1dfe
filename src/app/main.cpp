#include <string>
#include <vector>

#include "app/ImportRun.h"
#include "platform/Process.h"
#include "platform/Text.h"

int main(int argc, char** argv) {
  // Arguments arrive as bytes; an empty one is dropped, as the command-line splitting the
  // callers know drops an empty pair of quotes.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    std::string argument = korvane::text::SanitizeUtf8(argv[i]);
    if (!argument.empty()) arguments.push_back(std::move(argument));
  }
  try {
    korvane::ImportRun run(std::move(arguments), korvane::platform::WriteStdoutLine);
    return run.Execute();
  } catch (...) {
    // The line itself could not be written; the exit code still tells the caller.
    return 1;
  }
}
