#include "platform/Convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace korvane {
namespace {

constexpr std::uint64_t kAll = UINT64_MAX;

TEST(DigitsValue, ReadsARunOfDigitsUpToItsLimit) {
  struct Case {
    const char* digits;
    int base;
    std::uint64_t limit;
    std::optional<std::uint64_t> value;
  };
  const Case cases[] = {
      {"0", 10, kAll, 0},
      {"007", 10, kAll, 7},
      {"1aF", 16, kAll, 0x1AF},
      {"18446744073709551615", 10, kAll, kAll},
      {"18446744073709551616", 10, kAll, std::nullopt},
      {"ffffffffffffffff", 16, kAll, kAll},
      {"10000000000000000", 16, kAll, std::nullopt},
      {"100", 10, 100, 100},
      {"101", 10, 100, std::nullopt},
      {"7", 10, 5, std::nullopt},
      {"", 10, kAll, std::nullopt},
      {"1a", 10, kAll, std::nullopt},  // a hexadecimal digit is not a decimal one
      {"fg", 16, kAll, std::nullopt},
      {"+1", 10, kAll, std::nullopt},
      {" 1", 10, kAll, std::nullopt},
      {"1 ", 10, kAll, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::DigitsValue(c.digits, c.base, c.limit), c.value) << '"' << c.digits << "\" base " << c.base;
  }
}

TEST(DecimalToInt64, TakesASignAndDecimalDigitsOnly) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    const char* text;
    std::optional<std::int64_t> value;
  };
  const Case cases[] = {
      {"200", 200},
      {"+5", 5},
      {"-0", 0},
      {"-42", -42},
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"0x10", std::nullopt},
      {"$10", std::nullopt},
      {"1.0", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::DecimalToInt64(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrToInt32, FollowsTheRuntimeConversion) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"17", 17},
      {"  17", 17},
      {"+5", 5},
      {"-5", -5},
      {"$1F", 31},
      {"x1f", 31},
      {"X10", 16},
      {"0x10", 16},
      {"0X10", 16},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt},
      {"$80000000", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"abc", std::nullopt},
      {"12x", std::nullopt},
      {"12 ", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"-", std::nullopt},
      {"1.5", std::nullopt},
      {"\t1", std::nullopt},
      {"00012", 12},
      {"99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::StrToInt32(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace korvane
