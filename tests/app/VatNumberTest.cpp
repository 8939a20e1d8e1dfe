#include "app/subject/VatNumber.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(CleanVatNumber, SeparatorsAndTheLineEndGoThePrefixStays) {
  const std::pair<const char*, const char*> cases[] = {
      {"01234567890", "01234567890"},
      {"IT 0123.4567-890", "IT01234567890"},
      {"it 0123.4567-890\r", "it01234567890"},
      {"01234567890\r\n", "01234567890"},
      {"01234567890\n", "01234567890"},
      {"0123 4567 890 \r", "01234567890"},  // blanks before the line end go too
      {"\t01234567890\t", "01234567890"},
      {"0123\r4567890", "0123\r4567890"},  // a CR inside stays, for the check to refuse
      {"\r01234567890", "\r01234567890"},
      {"0123/4567890", "0123/4567890"},
      {"01234567890?", "01234567890?"},
      {"0123_4567890", "0123_4567890"},
      {"\xC2\xA0"
       "01234567890",
       "\xC2\xA0"
       "01234567890"},  // a no-break space is no blank of ours
      {" .-\r\n", ""},
      {"", ""},
  };
  for (const auto& [typed, cleaned] : cases) EXPECT_EQ(CleanVatNumber(typed), cleaned) << typed;
}

TEST(NormalizeVatNumber, BlanksDotsDashesAndTheCountryPrefixGo) {
  const std::pair<const char*, const char*> cases[] = {
      {"01234567890", "01234567890"},
      {"IT 0123.4567-890", "01234567890"},
      {"it01234567890", "01234567890"},
      {"iT\t01234567890 ", "01234567890"},
      {" I-T 01234567890", "01234567890"},   // "IT" once the separators are gone
      {"ITIT01234567890", "IT01234567890"},  // one prefix only
      {"0123456789IT", "0123456789IT"},      // leading only
      {"DE123456789", "DE123456789"},
      {"IT", ""},
      {" . - ", ""},
      {"012345678901", "012345678901"},
  };
  for (const auto& [piva, normalized] : cases) EXPECT_EQ(NormalizeVatNumber(piva), normalized) << piva;
}

// The three forms worked out once, and the one check of the form that the command line and each
// line of a list make.
TEST(VatNumber, CleanedNormalisedAndItsForm) {
  struct Case {
    const char* raw;
    const char* cleaned;
    const char* normalised;
    VatNumberForm form;
  };
  const Case cases[] = {
      {"IT 0124.8567-1007\r\n", "IT012485671007", "012485671007", VatNumberForm::Usable},
      {"it12485671007", "it12485671007", "12485671007", VatNumberForm::Usable},
      {"DE123456789", "DE123456789", "DE123456789", VatNumberForm::Usable},
      {"IT", "IT", "", VatNumberForm::Usable},  // letters: the registry says what it is
      {" . -\r", "", "", VatNumberForm::Missing},
      {"", "", "", VatNumberForm::Missing},
      {"0123/4567890", "0123/4567890", "0123/4567890", VatNumberForm::NotLettersAndDigits},
      {"0123\r4567890", "0123\r4567890", "0123\r4567890", VatNumberForm::NotLettersAndDigits},
      {"0123456789\xC3\xA8", "0123456789\xC3\xA8", "0123456789\xC3\xA8", VatNumberForm::NotLettersAndDigits},
  };
  for (const Case& c : cases) {
    const VatNumber number(c.raw);
    EXPECT_EQ(number.Raw(), c.raw);
    EXPECT_EQ(number.Cleaned(), c.cleaned) << c.raw;
    EXPECT_EQ(number.Normalised(), c.normalised) << c.raw;
    EXPECT_EQ(number.Form(), c.form) << c.raw;
  }
  EXPECT_FALSE(VatNumber("IT 1248 567 1007").IsValidItalian());  // the prefix stays in the cleaned form
  EXPECT_TRUE(VatNumber("1248.567.1007\r").IsValidItalian());
}

TEST(IsValidItalianVatNumber, TheIssuedForm) {
  const std::pair<const char*, bool> cases[] = {
      {"12485671007", true},
      {"00743110157", true},
      {"00000010017", true},   // office 001, first seven not all zero
      {"12345671007", true},   // office 100
      {"12345671205", true},   // 120
      {"12345671213", true},   // 121
      {"12345678887", true},   // 888
      {"12345679992", true},   // 999
      {"01234567890", false},  // the check digit should be 7
      {"12485671008", false},
      {"12485671006", false},
      {"12345670009", false},  // office 000
      {"12345671015", false},  // 101
      {"12345671197", false},  // 119
      {"12345671221", false},  // 122
      {"00000000018", false},  // first seven all zero, the rest right
      {"00000000000", false},
      {"1248567100", false},
      {"124856710070", false},
      {"", false},
      {"1248567100A", false},
      {"IT12485671007", false},
      {" 12485671007", false},
      {"12485.671007", false},
      {"\xEF\xBC\x91"
       "2485671007",
       false},  // a full-width digit one
  };
  for (const auto& [piva, valid] : cases) EXPECT_EQ(IsValidItalianVatNumber(piva), valid) << piva;
}

}  // namespace
}  // namespace korvane
