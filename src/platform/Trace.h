#pragma once

#include <string_view>

// A timed record of a run's steps for whoever supports an installation: KORVANE_TRACE=<file>
// appends one line per step, each with the milliseconds since the start of the run. The layers
// report their own steps here; nothing is traced, and nothing costs more than a test of one flag,
// while the trace is off. A trace never holds a secret (the token, a proxy password) nor the
// registry's answer body: callers pass only what may be shown.
namespace korvane::platform::trace {

// Opens `path` for appending and writes the run's first line; the zero of the times is the
// moment of this call. Nothing happens for a null or empty path, and a file that cannot be
// opened leaves the trace off: the run is exactly as without it. Call it first in main.
void Start(const char* path) noexcept;

// Whether steps are recorded; a caller that would compute its text only for the trace asks first.
bool On() noexcept;

// Appends one line: the time, then the text with every control character replaced by "?". A
// failed write turns the trace off. Safe from any thread.
void Step(std::string_view text) noexcept;

}  // namespace korvane::platform::trace
