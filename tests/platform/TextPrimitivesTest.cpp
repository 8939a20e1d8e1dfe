#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"

namespace korvane {
namespace {

TEST(Trim, EachTrimStripsItsOwnSet) {
  struct Case {
    std::string text;
    std::string control;         // TrimControl
    std::string blanksAndTabs;   // TrimBlanksAndTabs
    std::string ini;             // TrimIniBlanks
  };
  const Case cases[] = {
      {" \t a b \t ", "a b", "a b", "a b"},
      {"\v\fx\r", "x", "\v\fx\r", "x"},
      {"\x01x\x1F", "x", "\x01x\x1F", "\x01x\x1F"},
      {"\nx \n", "x", "\nx \n", "\nx \n"},
      {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},  // NBSP stays
      {" \t\r ", "", "\r", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::TrimControl(c.text), c.control) << testing::PrintToString(c.text);
    EXPECT_EQ(platform::TrimBlanksAndTabs(c.text), c.blanksAndTabs) << testing::PrintToString(c.text);
    EXPECT_EQ(platform::TrimIniBlanks(c.text), c.ini) << testing::PrintToString(c.text);
  }
}

TEST(Format, ReplacesEachMarkerByTheNextArgument) {
  EXPECT_EQ(platform::Format("Field \"%s\" not found", {"CODICE"}), "Field \"CODICE\" not found");
  EXPECT_EQ(platform::Format("a string of length %d into %d", {"70", "64"}), "a string of length 70 into 64");
  EXPECT_EQ(platform::Format("%s and %s", {"one"}), "one and %s");  // no argument left: kept
  EXPECT_EQ(platform::Format("(%s)", {"%d%s"}), "(%d%s)");          // an argument is not read again
  EXPECT_EQ(platform::Format("100% %x %", {"a"}), "100% %x %");
}

TEST(Utf8SequenceLength, ByLeadByte) {
  const std::pair<unsigned char, std::size_t> cases[] = {
      {0x00, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0}, {0xC2, 2}, {0xDF, 2},
      {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xF5, 0}, {0xFF, 0},
  };
  for (const auto& [lead, length] : cases) EXPECT_EQ(platform::Utf8SequenceLength(lead), length) << int(lead);
}

}  // namespace
}  // namespace korvane
