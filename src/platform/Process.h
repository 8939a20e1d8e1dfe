#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::platform {

// Full path of the running program file.
std::string ProgramFilePath();

// True for an existing regular file (a folder of that name does not count).
bool FileExists(const std::string& path);
// True for an existing folder.
bool DirectoryExists(const std::string& path);

// Why a database file at this path could never be opened, told without opening it (stat,
// following symbolic links): "Too many levels of symbolic links" for a loop of links, "not a
// regular file" for a folder, FIFO, socket or device. Empty for a regular file, a missing one,
// and whatever else stat cannot tell (an unreadable folder): the opener's own error says more.
std::string NotOpenableFileReason(const std::string& path);

// The bytes this process may still write on the file system that holds `path`, or would hold
// it (the nearest existing folder above it is asked); nothing when none can be asked.
std::optional<std::uint64_t> FreeSpace(const std::string& path);

// The largest file this process may write (the soft RLIMIT_FSIZE, "ulimit -f"), in bytes;
// nothing when there is no limit.
std::optional<std::uint64_t> FileSizeLimit();

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the process
// opens later (a database, the engine's lock file) can take the place of standard output. Call it
// first in main.
void OpenStandardDescriptors() noexcept;

// Makes UTF-8 the character set of the process's character type (LC_CTYPE "C.UTF-8"), whatever
// the environment's locale: the database client library converts file names from UTF-8 to that
// character set before it opens them, and file names on this system are UTF-8 (under the "C"
// locale of a process that never sets one, a name with "à" cannot be converted). Nothing in the
// program depends on the character type otherwise. Call it first in main, before any thread.
void UseUtf8CharacterType() noexcept;

// A write to a pipe whose reader has gone, or past the file-size limit, fails with an error like
// any other instead of ending the process (SIGPIPE and SIGXFSZ ignored).
void IgnoreWriteSignals() noexcept;

// Writes the bytes to standard output, all of them, as they are. Raises Exception when they
// cannot be written.
void WriteStdout(std::string_view bytes);

// Writes the text and CR LF to standard output in one write, as UTF-8. Raises Exception
// when the bytes cannot be written.
void WriteStdoutLine(std::string_view utf8);

// The same, for a process about to end: waits at most `limit` for standard output to take the
// line (a full pipe, a suspended terminal) and never raises. True when the whole line was
// written in time; otherwise the write may still be pending in a thread of its own, which ends
// with the process.
bool WriteStdoutLineWithin(std::string_view utf8, std::chrono::milliseconds limit) noexcept;

// How many lines of WriteStdoutLineWithin are over (written whole, or their write failed).
std::uint64_t StdoutLinesOver() noexcept;
// Waits at most `limit` for `count` of them to be over; true when they are. For a stop signal
// that comes once the run's outcome is settled: the outcome's line goes out first.
bool AwaitStdoutLinesOver(std::uint64_t count, std::chrono::milliseconds limit) noexcept;

// Writes the text and a line feed to standard error in one write, for a notice of the run's own
// settings. Waits at most `limit` for standard error to take it, and never raises: a notice that
// cannot be written is dropped.
void WriteStderrLine(std::string_view text, std::chrono::milliseconds limit) noexcept;

}  // namespace korvane::platform
