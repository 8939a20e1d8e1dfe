#include "db/ParameterBlocks.h"

#include <gtest/gtest.h>

#include "LayerTest.h"

namespace korvane::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using db::BuildDPB;
using db::BuildTPB;
using db::ConvertParamMarkers;

Bytes LoginDpb() {
  Bytes dpb{1, 28, 6};
  for (char c : std::string("SYSDBA")) dpb.push_back(static_cast<std::uint8_t>(c));
  dpb.insert(dpb.end(), {29, 9});
  for (char c : std::string(kPassword)) dpb.push_back(static_cast<std::uint8_t>(c));
  return dpb;
}

TEST(BuildDPB, LoginIsTwentyBytesWhateverTheNameSpelling) {
  ASSERT_EQ(LoginDpb().size(), 20u);
  const std::string password = kPassword;
  const std::vector<std::vector<std::string>> spellings{
      {"user_name=SYSDBA", "password=" + password},
      {"USER_NAME=SYSDBA", "Password=" + password},
      {"isc_dpb_user_name=SYSDBA", "ISC_DPB_PASSWORD=" + password},
      {"  user_name\t=SYSDBA", "", "   ", "password=" + password},
  };
  for (const auto& params : spellings) EXPECT_EQ(BuildDPB(params), LoginDpb()) << params[0];
}

TEST(BuildDPB, ValuesAreSentUnchangedInWindows1252) {
  EXPECT_EQ(BuildDPB({"password= è€"}), (Bytes{1, 29, 3, ' ', 0xE8, 0x80}));
  EXPECT_EQ(BuildDPB({"password"}), (Bytes{1, 29, 0}));
  EXPECT_EQ(BuildDPB({}), (Bytes{1}));
}

TEST(BuildDPB, UnknownNameAndOverlongValueFail) {
  EXPECT_CLIENT_ERROR(BuildDPB({"user_name=A", "Lc_Ctype=WIN1252"}), 114,
                      "DPB Constant (Lc_Ctype) is unknown");
  // The length travels in one byte: a longer value must not wrap around.
  const auto raised = Raised([] { BuildDPB({"password=" + std::string(256, 'x')}); });
  EXPECT_EQ(raised.kind, "client");
  EXPECT_EQ(raised.message, "Value of DPB constant (password) is too long");
  EXPECT_EQ(BuildDPB({"password=" + std::string(255, 'x')}).size(), 258u);
}

TEST(BuildTPB, DefaultIsEmptySnapshotIsThreeBytes) {
  EXPECT_TRUE(BuildTPB({}).empty());
  EXPECT_EQ(BuildTPB({"concurrency", "nowait"}), (Bytes{3, 2, 7}));
  EXPECT_EQ(BuildTPB({"isc_tpb_Concurrency", " ", "NOWAIT"}), (Bytes{3, 2, 7}));
  EXPECT_EQ(BuildTPB({"read_committed", "rec_version", "wait", "read"}), (Bytes{3, 15, 17, 6, 8}));
  EXPECT_CLIENT_ERROR(BuildTPB({"concurrency", "sometimes"}), 115,
                      "TPB Constant (sometimes) is unknown");
}

struct MarkerCase {
  std::string text;
  std::string prepared;
  std::vector<std::string> names;
};

TEST(ConvertParamMarkers, Table) {
  const std::vector<MarkerCase> cases{
      {"UPDATE T SET A=:A,\r\nB='x:y' WHERE K=:KEY\r\n",
       "UPDATE T SET A=?,\r\nB='x:y' WHERE K=?\r\n", {"A", "KEY"}},
      {"SELECT 'it''s :no', \"q:\"\"x\" FROM T WHERE A=:a\r\n",
       "SELECT 'it''s :no', \"q:\"\"x\" FROM T WHERE A=?\r\n", {"a"}},
      {"/* :x ' */ SELECT :Y/**/\r\n", "/* :x ' */ SELECT ?/**/\r\n", {"Y"}},
      {"-- :c\r\n", "-- ?\r\n", {"c"}},
      {":A:B\r\n", "?:B\r\n", {"A"}},
      {"X=:\"my name\"+1, ?P, :$_9\r\n", "X=?+1, ?, ?\r\n", {"my name", "P", "$_9"}},
      {"X=:A'\r\n", "X=?'\r\n", {"A"}},            // the character after a name is not examined
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

TEST(AttachName, DoubleBackslashBecomesHostColon) {
  EXPECT_EQ(db::AttachName("\\\\server\\C:\\Dati\\ditta.fdb"), "server:C:\\Dati\\ditta.fdb");
  EXPECT_EQ(db::AttachName("\\\\localhost\\/tmp/a.fdb"), "localhost:/tmp/a.fdb");
  EXPECT_EQ(db::AttachName("localhost:/tmp/a.fdb"), "localhost:/tmp/a.fdb");
  EXPECT_EQ(db::AttachName("\\single\\a.fdb"), "\\single\\a.fdb");
  EXPECT_EQ(db::AttachName("/tmp/a.fdb"), "/tmp/a.fdb");
}

}  // namespace
}  // namespace korvane::testing
