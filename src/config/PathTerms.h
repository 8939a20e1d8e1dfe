#pragma once

#include <string>
#include <string_view>

#include "platform/PathKinds.h"

// Path texts as the management suite stores them (Windows style: "\" separates folders, ":"
// marks a drive), read on a POSIX machine where "/" also separates folders.
namespace korvane::config {

// What separates the folder part of a path from its name. A path text of the suite (stored in
// a database or in dati.ini) may use any of "\", ":" and "/"; a path this machine gives (the
// program file) uses "/" only, and "\" and ":" are plain characters of its names.
inline constexpr std::string_view kSuiteSeparators = "\\:/";
inline constexpr std::string_view kLocalSeparators = "/";

// The text up to and including its last separator; empty when it has none.
std::string FolderPart(std::string_view path, std::string_view separators = kSuiteSeparators);
// The text after its last "\", ":" or "/"; the whole text when it has none.
std::string NamePart(std::string_view path);

// "D:" for "D:\Dati\a.fdb"; "\\nas\dati" for "\\nas\dati\Ditte\a.fdb"; else empty.
std::string DrivePart(std::string_view path);

using platform::IsNetworkPath;

// The folder below the drive: the path without its drive part and the one backslash that
// follows it ("D:\Gestionale\Dati" -> "Gestionale\Dati", "\\nas\dati\Ditte\" -> "Ditte\").
std::string RelativeFolder(std::string_view path);

// The text with one backslash at the end ("" -> "\").
std::string WithTrailingSeparator(std::string_view text);

}  // namespace korvane::config
