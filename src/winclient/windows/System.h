#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The process's edges on Windows: its arguments, environment, folder, settings file and
// standard output.
namespace korvane::winclient {

std::wstring Utf8ToWide(std::string_view utf8);
// A lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// The arguments after the program's name, as the command line gives them (UTF-16), in UTF-8.
std::vector<std::string> CommandLineArguments();

// A variable's value in UTF-8; nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const char* name);

// The file beside korvane.exe with this name: its bytes, or nothing when there is no such file.
// Raises ClientError when it exists and cannot be read.
std::optional<std::string> ReadFileBesideProgram(std::wstring_view name);

// Writes the text (UTF-8) to standard output in the code page a console program's output has:
// the console's output code page on a console, the system's ANSI code page otherwise. Written
// with WriteFile on the standard handle, with no text-mode translation. False when it could not
// be written whole.
bool WriteStandardOutput(std::string_view utf8);

}  // namespace korvane::winclient
