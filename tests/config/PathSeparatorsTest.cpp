#include <gtest/gtest.h>

#include "config/PathTerms.h"
#include "config/QelUser.h"

namespace korvane {
namespace {

// A path text of the suite splits at "\", ":" and "/"; a path of this machine only at "/".
TEST(PathSeparators, SuitePathsAndLocalPathsSplitDifferently) {
  using namespace config;
  EXPECT_EQ(FolderPart("/opt/a:b\\c/korvane"), "/opt/a:b\\c/");
  EXPECT_EQ(FolderPart("D:a\\b:c"), "D:a\\b:");
  EXPECT_EQ(FolderPart("D:a\\b:c", kLocalSeparators), "");
  EXPECT_EQ(GetUserDatabasePath("/opt/a:b\\c/korvane"), "/opt/a:b\\c/user/user.fdb");
}

// The drive test counts UTF-16 units; a byte that cannot start a sequence counts as one.
TEST(PathSeparators, DriveAfterAnInvalidFirstByte) {
  EXPECT_EQ(config::DrivePart("\xFF:\\a"), "\xFF:");
  EXPECT_EQ(config::DrivePart("\xC0:\\a"), "\xC0:");
}

}  // namespace
}  // namespace korvane
