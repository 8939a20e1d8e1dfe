#include "platform/UtcTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <utility>

namespace korvane::platform {
namespace {

TEST(UtcTimeText, WrittenAndReadBack) {
  // 2026-01-15T09:30:12.045Z
  const auto time = std::chrono::system_clock::from_time_t(1768469412) + std::chrono::milliseconds(45);
  EXPECT_EQ(UtcTimeText(time), "2026-01-15T09:30:12Z");
  EXPECT_EQ(UtcTimeText(time, true), "2026-01-15T09:30:12.045Z");
  EXPECT_EQ(ParseUtcTimeText(UtcTimeText(time)), 1768469412);

  const std::pair<const char*, std::optional<std::time_t>> cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2026-01-15T09:30:12.045Z", std::nullopt},  // milliseconds are not read
      {"2026-01-15T09:30:12+", std::nullopt},
      {"2026-01-15 09:30:12Z", std::nullopt},
      {"2026-01-15T09:30:12Z ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(ParseUtcTimeText(text), seconds) << text;
}

}  // namespace
}  // namespace korvane::platform
