#include "db/StatementText.h"

#include <gtest/gtest.h>

#include "LayerTest.h"

namespace korvane::testing {
namespace {

using db::ConvertParamMarkers;

struct MarkerCase {
  std::string text;
  std::string prepared;
  std::vector<std::string> names;
};

TEST(ConvertParamMarkers, Table) {
  const std::vector<MarkerCase> cases{
      {"UPDATE T SET A=:A,\r\nB='x:y' WHERE K=:KEY\r\n", "UPDATE T SET A=?,\r\nB='x:y' WHERE K=?\r\n", {"A", "KEY"}},
      {"SELECT 'it''s :no', \"q:\"\"x\" FROM T WHERE A=:a\r\n",
       "SELECT 'it''s :no', \"q:\"\"x\" FROM T WHERE A=?\r\n",
       {"a"}},
      {"/* :x ' */ SELECT :Y/**/\r\n", "/* :x ' */ SELECT ?/**/\r\n", {"Y"}},
      {"-- :c\r\n", "-- ?\r\n", {"c"}},
      {":A:B\r\n", "?:B\r\n", {"A"}},
      {"X=:\"my name\"+1, ?P, :$_9\r\n", "X=?+1, ?, ?\r\n", {"my name", "P", "$_9"}},
      {"X=:A'\r\n", "X=?'\r\n", {"A"}},  // the character after a name is not examined
      {"X=:città,:Ω1\r\n", "X=?,?\r\n", {"città", "Ω1"}},
      {"X=:A, :A\r\n", "X=?, ?\r\n", {"A", "A"}},
      {"A\nB\rC", "A\r\nB\r\nC\r\n", {}},
      {"", "", {}},
  };
  for (const MarkerCase& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(ConvertParamMarkers(c.text, names), c.prepared) << c.text;
    EXPECT_EQ(names, c.names) << c.text;
  }
}

TEST(ConvertParamMarkers, ParseErrors) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"SELECT 'abc\r\n", "EOF in string detected"},
      {"SELECT \"abc''\r\n", "EOF in string detected"},
      {"SELECT 1 /* note\r\n", "EOF in comment detected"},
      {"X = : Y\r\n", "Parameter name expected"},
      {"X = ?\r\n", "Parameter name expected"},
      {"X = :", "Parameter name expected"},
      {"X = :\"open", "EOF in string detected"},
  };
  for (const auto& [text, what] : cases) {
    std::vector<std::string> names;
    EXPECT_CLIENT_ERROR(ConvertParamMarkers(text, names), 55, "SQL Parse Error:\r\n\r\n" + what);
  }
}

}  // namespace
}  // namespace korvane::testing
