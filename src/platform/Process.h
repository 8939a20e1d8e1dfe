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

// Writes the text and CR LF to standard output in one write, as UTF-8. Raises Exception
// when the bytes cannot be written.
void WriteStdoutLine(std::string_view utf8);

}  // namespace korvane::platform
