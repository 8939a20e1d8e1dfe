#pragma once

#include <string>
#include <string_view>

namespace korvane::platform {

// Full path of the running program file.
std::string ProgramFilePath();

// True for an existing regular file (a folder of that name does not count).
bool FileExists(const std::string& path);
// True for an existing folder.
bool DirectoryExists(const std::string& path);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the process
// opens later (a database, the engine's lock file) can take the place of standard output. Call it
// first in main.
void OpenStandardDescriptors() noexcept;

// A write to a pipe whose reader has gone, or past the file-size limit, fails with an error like
// any other instead of ending the process (SIGPIPE and SIGXFSZ ignored).
void IgnoreWriteSignals() noexcept;

// Writes the text and CR LF to standard output in one write, as UTF-8. Raises Exception
// when the bytes cannot be written.
void WriteStdoutLine(std::string_view utf8);

}  // namespace korvane::platform
