#include "platform/CodePages.h"
#include "platform/MessageText.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

TEST(Cp1252, RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(platform::Utf8ToCp1252(platform::Cp1252ToUtf8(all)), all);
}

TEST(Cp1252, ConvertsLettersBothWays) {
  struct Case {
    std::string utf8;
    std::string cp1252;
  };
  const Case cases[] = {
      {"\xC3\xA0\xC3\xA8\xE2\x82\xAC", "\xE0\xE8\x80"},  // à è €
      {"\xC5\x81\xC3\xB3\xC5\xBA", "L\xF3z"},            // Łóź: best fit for what 1252 lacks
      {"\xE2\x80\x94", "\x97"},                          // em dash is in the code page
      {"\xE2\x88\x9E\xF0\x9F\x98\x80", "??"},            // infinity and an emoji have no fit
  };
  for (const auto& c : cases) EXPECT_EQ(platform::Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

TEST(Utf16, CountsAndCutsInCodeUnits) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // one code point, two UTF-16 units
  EXPECT_EQ(platform::Utf16Length("abc"), 3u);
  EXPECT_EQ(platform::Utf16Length("\xC3\xA0" + emoji), 3u);
  EXPECT_EQ(platform::Utf16Left("\xC3\xA0"
                                "bc",
                                2),
            "\xC3\xA0"
            "b");
  EXPECT_EQ(platform::Utf16Left("a" + emoji + "b", 2), "a");  // the pair is dropped whole
  EXPECT_EQ(platform::Utf16Left("a" + emoji + "b", 3), "a" + emoji);
  EXPECT_EQ(platform::Utf16Left("abc", 0), "");
  EXPECT_EQ(platform::Utf16Left("abc", -1), "");
  EXPECT_EQ(platform::Utf16Left("abc", 10), "abc");
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(platform::SanitizeUtf8("a\xFF"
                                   "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(platform::SanitizeUtf8("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(platform::SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(platform::SanitizeUtf8("ok \xC3\xA8"), "ok \xC3\xA8");
}

TEST(UpperCase, UsesSimpleCaseMapping) {
  EXPECT_EQ(platform::UpperCase("-utente"), "-UTENTE");
  EXPECT_EQ(platform::UpperCase("-piva\xC3\xA0"), "-PIVA\xC3\x80");
}

TEST(OutsideText, ControlCharactersBecomeQuestionMarksAndLongTextIsCut) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found"},
      {"\r\n0042\r\n", "??0042??"},
      {"a\x1b[31mb\x7f", "a?[31mb?"},
      {"\xC2\x85\xC2\x9F\xC2\xA0\xC3\xA8", "??\xC2\xA0\xC3\xA8"},  // C1 controls; NBSP and è stay
      // Line and paragraph separators and the bidirectional controls, on both edges of each
      // range; the neighbours outside the ranges (U+2027, U+2065, U+206A) stay.
      {"a\u2028b\u2029c", "a?b?c"},
      {"\u2027\u202A\u202E\u202F", "\u2027??\u202F"},
      {"\u2065\u2066\u2069\u206A", "\u2065??\u206A"},
      {std::string(200, 'x'), std::string(200, 'x')},
      {std::string(201, 'x'), std::string(200, 'x') + "..."},
      // A pair that does not fit whole is dropped whole.
      {std::string(199, 'x') + "\xF0\x9F\x98\x80", std::string(199, 'x') + "..."},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::OutsideTextForMessage(c.in), c.out) << c.in;
  EXPECT_EQ(platform::OutsideTextForMessage(std::string(50'000'000, '\n')).size(), 203u);
}

TEST(Trim, EachTrimStripsItsOwnSet) {
  struct Case {
    std::string text;
    std::string control;        // TrimControl
    std::string blanksAndTabs;  // TrimBlanksAndTabs
    std::string ini;            // TrimIniBlanks
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
      {0x00, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0}, {0xC2, 2},
      {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xF5, 0}, {0xFF, 0},
  };
  for (const auto& [lead, length] : cases) EXPECT_EQ(platform::Utf8SequenceLength(lead), length) << int(lead);
}

}  // namespace
}  // namespace korvane
