#include "platform/UtcTime.h"

#include <cstdio>

namespace korvane::platform {

std::string UtcTimeText(std::chrono::system_clock::time_point time, bool milliseconds) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string result = text;
  if (milliseconds) {
    const auto part = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(part));
    result += fraction;
  }
  return result + "Z";
}

std::optional<std::time_t> ParseUtcTimeText(std::string_view text) {
  const std::string field(text);
  std::tm utc{};
  char zone = 0;
  int consumed = 0;
  if (field.size() != 20 ||
      std::sscanf(field.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                  &utc.tm_min, &utc.tm_sec, &zone, &consumed) != 7 ||
      zone != 'Z' || consumed != 20) {
    return std::nullopt;
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return timegm(&utc);
}

}  // namespace korvane::platform
