#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::platform {

// A UTC time as the program writes it in its files and logs: "2026-01-15T09:30:12Z", or with
// milliseconds "2026-01-15T09:30:12.345Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time, bool milliseconds = false);

// The time written by UtcTimeText without milliseconds; nothing for any other text.
std::optional<std::time_t> ParseUtcTimeText(std::string_view text);

}  // namespace korvane::platform
