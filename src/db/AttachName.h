#pragma once

// The name the client library is given for a connection string, and what is looked at before
// it is asked to attach a file of this machine. The engine runs in this process for such a file:
// a FIFO at the path blocks its open (and the library's fall-through to the local server blocks
// that server's worker), a loop of symbolic links overflows its stack, and a lock folder without
// space, or a file-size limit below the lock file's size, kills the process (SIGBUS) when the
// engine touches its mapped lock file. Each of these ends with an error before any attach instead.

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::db {

// "\\host\rest" becomes "host:rest" (TCP to the same server); every other name is unchanged.
std::string AttachName(const std::string& databaseName);

// True for a name the client library opens as a file of this machine: a path (it holds a "/")
// without a host part (no ":"). "host:path", "inet://...", an alias and a bare file name are not.
bool IsLocalFilePath(std::string_view attachName);

// The folder where the engine in this process keeps its lock files: FIREBIRD_LOCK when set,
// else the engine's own default.
std::string EngineLockFolder();

// The engine needs at least this much room for a lock file, and files at least this large.
inline constexpr std::uint64_t kLockFolderMinimumFree = 1024 * 1024;

// Raises, for a local file path: the engine's own error for a file it cannot open when the path
// holds no regular file, or is not UTF-8, which the engine cannot resolve (EIBInterBaseError, SQL
// code -902, the I/O error code; the text "I/O error during "open" operation for file "<path>""
// CR LF and the reason, "file name not valid UTF-8" for the last, the path shown with U+FFFD for
// each byte that is not), and "Spazio esaurito in <folder>" (EIBError, both numbers 0) when the
// engine's lock folder has less than kLockFolderMinimumFree bytes free, and "Limite di dimensione
// dei file insufficiente (ulimit -f)" (the same) when the process may not write files that large.
// A regular or missing file passes: the library's usual path decides then.
void CheckLocalAttach(const std::string& path);

}  // namespace korvane::db
