#pragma once

#include <string>
#include <string_view>

// Files that hold a secret (the desktops' keys, the certificate's private key): readable by their
// owner only, and never seen half-written.
namespace korvane::server {

// Raises, naming the file, when its group or other users may read or write it. A missing file
// passes: whoever reads it says so.
void RequireOwnerOnly(const std::string& path);

// Replaces the file with `text` in one step (a new file renamed over it), mode 0600. The new file
// keeps the owner of the file it replaces, or takes the owner of its folder when there was none,
// so an administrator who runs a command as root leaves the file to the service's user. Raises on
// failure, leaving the old file as it was.
void WritePrivateFile(const std::string& path, std::string_view text);

// The whole file; raises, naming it, when it cannot be read. A missing file reads as nothing when
// `missingIsEmpty`.
std::string ReadWholeFile(const std::string& path, bool missingIsEmpty = false);

}  // namespace korvane::server
