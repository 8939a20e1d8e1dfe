#include "app/SubjectInsert.h"

#include <gtest/gtest.h>

#include <ctime>

namespace korvane {
namespace {

TEST(DateLiteralText, IsMonthDayYear) {
  std::tm date{};
  date.tm_year = 2024 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 5;
  EXPECT_EQ(DateLiteralText(date), "03/05/2024");
}

}  // namespace
}  // namespace korvane
