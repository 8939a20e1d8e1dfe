#include "app/subject/QelUtility.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(PadLeft, PadsOrCuts) {
  EXPECT_EQ(PadLeft("124", 6), "   124");
  EXPECT_EQ(PadLeft("124", 3), "124");
  EXPECT_EQ(PadLeft("124", 2), "12");
  EXPECT_EQ(PadLeft("124", 0), "");
  EXPECT_EQ(PadLeft("124", -1), "");
  EXPECT_EQ(PadLeft("\xC3\xA0", 2), " \xC3\xA0");
}

}  // namespace
}  // namespace korvane
