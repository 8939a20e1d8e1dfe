#pragma once

// The code page of every text the layer exchanges with the client library: database names,
// connection parameters, statement text, text values and the library's error lines. Inside the
// program text is UTF-8; changing the databases' code page means changing these two functions.

#include <string>
#include <string_view>

#include "platform/CodePages.h"

namespace korvane::db {

inline std::string ToDatabase(std::string_view utf8) { return platform::Utf8ToCp1252(utf8); }

inline std::string FromDatabase(std::string_view bytes) { return platform::Cp1252ToUtf8(bytes); }

}  // namespace korvane::db
