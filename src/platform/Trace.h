#pragma once

#include <string>
#include <string_view>

// A timed record of a run's steps for whoever supports an installation: KORVANE_TRACE=<file>
// appends one line per step, each with the milliseconds since the start of the run. The layers
// report their own steps here; nothing is traced, and nothing costs more than a test of one flag,
// while the trace is off. A trace never holds a secret (the token, a proxy password) nor the
// registry's answer body: callers pass only what may be shown.
namespace korvane::platform::trace {

// Opens `path` for appending and writes the run's first line; the zero of the times is the
// moment of this call. Nothing happens for a null or empty path. The trace must not become a way
// to write into a file of somebody else's choosing (a run as root, a link planted in a shared
// folder): the file is used only when it is a regular file of the running user with no other
// name, reached without following a symbolic link at its own name, or when it is created new
// (mode 0600, never over a file that appeared meanwhile). Otherwise the trace stays off, the run
// is exactly as without it, and the result is the one line that says so, for standard error
// (empty when the trace is on or was not asked for). The first line names `program` (the
// program's version line), the local time and the process. Call it first in main.
std::string Start(const char* path, std::string_view program = "korvane") noexcept;

// Whether steps are recorded; a caller that would compute its text only for the trace asks first.
bool On() noexcept;

// Appends one line: the time, then the text with a carriage return and a line feed shown as
// "\r" and "\n" and every other control character replaced by "?". A failed write turns the trace
// off. Safe from any thread.
void Step(std::string_view text) noexcept;

}  // namespace korvane::platform::trace
