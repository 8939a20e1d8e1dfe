#pragma once

// A run's process: started with its standard output as its fault wants it (closed, /dev/full, a
// full pipe, a pipe without reader), its output and error read as they come.

#include <sys/types.h>

#include <cstddef>
#include <vector>

#include "Soak.h"

namespace korvane::soak {

// Starts the record's program with its arguments and environment alone, in a process group of
// its own, with default signal actions; raises std::runtime_error when it cannot.
void StartProcess(RunRecord& record);

// Reads what the running records' pipes hold, waiting up to `waitMs` for any.
void ReadOutputs(std::vector<RunRecord>& records, const std::vector<std::size_t>& running, int waitMs);

// Once the process has ended: what its pipes still hold (the writer has gone, so each read
// ends); closes them.
void DrainOutputs(RunRecord& record);

// Whether the process has touched its signals (blocked, ignored or caught any of the 31 classic
// ones; the C library keeps two real-time signals of its own ignored from the start): until it
// has, it is still in its first instants (the loader, or the first lines of main), where a stop
// signal's default action ends it. Read from /proc just before the signal is sent.
bool TouchedItsSignals(pid_t pid);

}  // namespace korvane::soak
