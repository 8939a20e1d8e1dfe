#include "app/answer/SubjectRow.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(RemoveHouseNumber, DropsOnlyALastWordThatIsTheHouseNumber) {
  struct Case {
    const char* address;
    const char* houseNumber;
    const char* result;
  };
  const Case cases[] = {
      {"Via Roma 12", "12", "Via Roma"},
      {"Via 12 Ottobre 12", "12", "Via 12 Ottobre"},
      {"Via 4 Novembre 4", "4", "Via 4 Novembre"},
      {"Via Roma 120", "12", "Via Roma 120"},
      {"Via Roma 12/A", "12/A", "Via Roma"},
      {"Via Roma 12/A", "12", "Via Roma 12/A"},
      {"Via Garibaldi a", "a", "Via Garibaldi"},
      {"Via Tevere 5b", "5B", "Via Tevere 5b"},   // letter case as written
      {"12", "12", "12"},                         // no street before it: kept whole
      {"Via Roma12", "12", "Via Roma12"},         // not a word of its own
      {" \tVia Roma  12\r\n", "12", "Via Roma"},  // trimmed before and after
      {"  Via Roma 12  ", "", "Via Roma 12"},
      {"", "12", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RemoveHouseNumber(c.address, c.houseNumber), c.result) << c.address;
}

}  // namespace
}  // namespace korvane
