#include "app/InserimentoSoggetto.h"

#include <gtest/gtest.h>

#include "platform/Text.h"

namespace korvane {
namespace {

TEST(RemoveHouseNumber, RemovesEveryOccurrenceThenTheCallerTrims) {
  struct Case {
    const char* indirizzo;
    const char* civico;
    const char* trimmed;
  };
  const Case cases[] = {
      {"Via Roma 12", "12", "Via Roma"},
      {"Via 12 Ottobre 12", "12", "Via  Ottobre"},
      {"Via Roma 12/A", "12", "Via Roma /A"},
      {"Via Roma 120", "12", "Via Roma 0"},
      {"Via Roma 1212", "12", "Via Roma"},
      {"Via Roma 121", "121", "Via Roma"},
      {"Via Roma 111", "11", "Via Roma 1"},  // matches do not overlap
      {" \tVia Roma 12A\r\n", "12a", "Via Roma 12A"},  // case matters
      {"  Via Roma  ", "", "Via Roma"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text::TrimControl(RemoveHouseNumber(c.indirizzo, c.civico)), c.trimmed) << c.indirizzo;
  }
}

TEST(DateLiteralText, IsMonthDayYear) {
  std::tm date{};
  date.tm_year = 2024 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 5;
  EXPECT_EQ(DateLiteralText(date), "03/05/2024");
}

}  // namespace
}  // namespace korvane
