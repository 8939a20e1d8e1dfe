#pragma once

#include <string>

namespace korvane::platform {

// How a file of the run's own (the trace, the ledger, a turn's lock) is opened.
enum class OwnFileAccess {
  Append,         // writes only, each at the end
  ReadAndAppend,  // reads anywhere, writes each at the end
};

// Opens a file that a variable or the program names for the run to write, without letting it
// become a way to write into a file of somebody else's choosing (a run as root, a link planted
// in a shared folder): the file is used only when it is a regular file of the running user with
// no other name, reached without following a symbolic link at its own name, or when it is created
// new (mode 0600, never over a file that appeared meanwhile). A FIFO or a device is never opened.
// Returns the descriptor (close-on-exec), or -1 with the reason in `refused` ("symbolic link",
// "not a regular file", "owned by another user", "more than one hard link", or the system's text).
int OpenOwnFile(const char* path, OwnFileAccess access, std::string& refused);

}  // namespace korvane::platform
