#include "db/ValueText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace korvane::testing {
namespace {

TEST(ScaledText, ExactDecimalsWithoutTrailingZeros) {
  const struct {
    std::int64_t value;
    int scale;
    const char* text;
  } cases[] = {
      {150, -2, "1.5"}, {-5, -2, "-0.05"}, {100, -2, "1"},
      {-100, -2, "-1"}, {0, -3, "0"},      {3, 2, "300"},
      {0, 2, "0"},      {-7, 0, "-7"},     {INT64_MIN, -4, "-922337203685477.5808"},
  };
  for (const auto& c : cases) EXPECT_EQ(db::ScaledText(c.value, c.scale), c.text) << c.value;
}

TEST(DateAndTimeText, ServerDaysAndFractions) {
  EXPECT_EQ(db::DateText(0), "1858-11-17");
  EXPECT_EQ(db::DateText(40587), "1970-01-01");
  EXPECT_EQ(db::DateText(51603), "2000-02-29");
  EXPECT_EQ(db::DateText(-678575), "0001-01-01");
  EXPECT_EQ(db::TimeText(0), "00:00:00");
  EXPECT_EQ(db::TimeText((23 * 3600 + 59 * 60 + 59) * 10000 + 9999), "23:59:59");
}

}  // namespace
}  // namespace korvane::testing
