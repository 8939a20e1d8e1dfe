#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class TIBDatabase;

// The text of the named setting in the archive's TABX table; empty when there is no such row
// or its text is NULL. A negative user filter reads the setting of any user. The read runs in
// a snapshot transaction ended before it returns (ReadTabXValue).
std::string GetTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente);

}  // namespace korvane

namespace korvane::config {

// The lines of that read, the name placed between apostrophes.
std::vector<std::string> TabXSQL(const std::string& nome, std::int32_t filtroUtente);

// The same read, in a snapshot transaction ended before it returns.
std::string ReadTabXValue(TIBDatabase& database, const std::string& nome, std::int32_t filtroUtente = -1);

}  // namespace korvane::config
