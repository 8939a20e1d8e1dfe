#pragma once

// Builders of the connection and transaction parameter blocks. Exposed for tests.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::db {

// From lines "name=value": version byte 1, then per known name its code, the value's length
// and the value's UTF-8 bytes, then the item that tells the client library the strings of the
// block, the database's file name among them, are UTF-8 (isc_dpb_utf8_filename, no value):
// file names on this system are UTF-8, and a login is a login whatever the code page of the
// text inside the databases. Unknown names fail with the layer's entry 114.
//
// With `processName`, the process's name goes in the block too (isc_dpb_process_name), before
// the UTF-8 item: the client library otherwise adds the program file's path as it finds it,
// which the server refuses ("Cannot transliterate") when that path is not UTF-8.
std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params, std::string_view processName = {});

// The process's name for the block from the program file's path: invalid UTF-8 bytes become
// U+FFFD, and a name longer than the 255 bytes an item holds keeps its last ones, cut at a
// character's start.
std::string ProcessNameForAttach(std::string_view programFilePath);

// Empty for an empty list (the server's defaults); otherwise version byte 3 and one code per
// non-blank line; "lock_timeout=<seconds>" gives its code, the length 4 and the seconds as four
// bytes, least significant first. Unknown names (or a lock_timeout that is no whole number of
// seconds from 1 up) fail with the layer's entry 115.
std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params);

// The seconds of the list's "lock_timeout=<seconds>" line, zero without one (or for a value
// BuildTPB refuses): how long the engine itself may wait for a lock before it answers.
std::chrono::seconds TransactionLockWait(const std::vector<std::string>& params);

}  // namespace korvane::db
