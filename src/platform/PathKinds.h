#pragma once

#include <optional>
#include <string>
#include <string_view>

// What kind of place a path text names, decided here alone: a Windows desktop's drive letter or
// network path, and the database client's "host:path".
namespace korvane::platform {

// A drive letter and a colon, alone or followed by "\" or "/" ("G:\Gestionale", "g:/x").
bool IsDriveLetterPath(std::string_view path);

// A drive letter and a colon followed by a name ("G:ditta01.fdb"): relative to that drive's
// current folder on a desktop, a place no server can know.
bool IsDriveRelativePath(std::string_view path);

// Two backslashes and a host ("\\nas\..."); of the "\\?\" forms only "\\?\UNC\host\...".
bool IsNetworkPath(std::string_view path);

// The host of a network path and what follows the backslash after it ("\\srv01\dati\a.fdb":
// "srv01" and "dati\a.fdb"); nothing for any other text, or one without a backslash after the host.
struct HostAndRest {
  std::string host;
  std::string rest;
};
std::optional<HostAndRest> SplitNetworkPath(std::string_view path);

// A database client's connection string with a host part: "host:path", "host/port:path",
// "inet://...". A colon anywhere says so on this machine, where file paths have no drive.
bool HasHostPart(std::string_view connectionString);

}  // namespace korvane::platform
