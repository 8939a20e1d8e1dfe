#include "app/list/ListNumbers.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(CheckListNumbers, CleaningRepairRefusalsAndDuplicates) {
  struct Case {
    std::string value;
    std::string kind;
    ListVerdict verdict;
    std::string vatNumber;
    bool repaired;
    std::string message;
  };
  const Case cases[] = {
      {"IT 1248.5671-007\r", "", ListVerdict::ToImport, "IT12485671007", false, ""},
      {"743110157", "", ListVerdict::ToImport, "00743110157", true, "P.IVA completata con gli zeri iniziali"},
      {"1234560017", "Cliente", ListVerdict::ToImport, "01234560017", true, "P.IVA completata con gli zeri iniziali"},
      // padded, the check digits fail: not repaired, refused
      {"1234567890", "", ListVerdict::Invalid, "1234567890", false, "P.IVA 1234567890 non valida"},
      // 11 digits are left for the company's setting to judge
      {"01234567890", "", ListVerdict::ToImport, "01234567890", false, ""},
      {"1,23457E+10", "", ListVerdict::Invalid, "1,23457E+10", false,
       "P.IVA in notazione scientifica (1,23457E+10): cifre perse, salvare la colonna come testo"},
      {" 1.2485671007e10 ", "", ListVerdict::Invalid, "12485671007e10", false,
       "P.IVA in notazione scientifica ( 1.2485671007e10 ): cifre perse, salvare la colonna come testo"},
      {"0123/4567890", "", ListVerdict::Invalid, "0123/4567890", false, "P.IVA non riconosciuta (0123/4567890)"},
      {" ", "F", ListVerdict::Invalid, "", false, "P.IVA mancante"},
      {"12485671007", "X", ListVerdict::Invalid, "12485671007", false, "Tipo soggetto non riconosciuto (X)"},
      // the same numbers again, however written: duplicates of the first row
      {"00743110157", "", ListVerdict::Duplicate, "00743110157", false, "Duplicato della riga 2"},
      {"it12485671007", "", ListVerdict::Duplicate, "it12485671007", false, "Duplicato della riga 1"},
      // the same number as a supplier is another subject
      {"12485671007", "f", ListVerdict::ToImport, "12485671007", false, ""},
      {"12485671007", "Fornitore", ListVerdict::Duplicate, "12485671007", false, "Duplicato della riga 13"},
  };
  std::vector<ListEntry> entries;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    entries.push_back({static_cast<std::int64_t>(i + 1), cases[i].value, cases[i].kind, "", cases[i].value});
  }
  const auto numbers = CheckListNumbers(entries);
  ASSERT_EQ(numbers.size(), std::size(cases));
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const Case& test = cases[i];
    EXPECT_EQ(numbers[i].verdict, test.verdict) << test.value;
    EXPECT_EQ(numbers[i].vatNumber, test.vatNumber) << test.value;
    EXPECT_EQ(numbers[i].repaired, test.repaired) << test.value;
    EXPECT_EQ(numbers[i].message, test.message) << test.value;
  }
  EXPECT_EQ(numbers[10].firstLine, 2);
  EXPECT_EQ(numbers[12].kind, 'F');
}

}  // namespace
}  // namespace korvane
