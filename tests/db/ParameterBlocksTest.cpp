#include "db/ParameterBlocks.h"

#include <gtest/gtest.h>

#include "LayerTest.h"

namespace korvane::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using db::BuildDPB;
using db::BuildTPB;

// The block ends with the UTF-8 file-name item (77, no value).
Bytes LoginDpb() {
  Bytes dpb{1, 28, 6};
  for (char c : std::string("SYSDBA")) dpb.push_back(static_cast<std::uint8_t>(c));
  dpb.insert(dpb.end(), {29, 9});
  for (char c : std::string(kBuiltInPassword)) dpb.push_back(static_cast<std::uint8_t>(c));
  dpb.insert(dpb.end(), {77, 0});
  return dpb;
}

TEST(BuildDPB, LoginIsTwentyTwoBytesWhateverTheNameSpelling) {
  ASSERT_EQ(LoginDpb().size(), 22u);
  const std::string password = kBuiltInPassword;
  const std::vector<std::vector<std::string>> spellings{
      {"user_name=SYSDBA", "password=" + password},
      {"USER_NAME=SYSDBA", "Password=" + password},
      {"isc_dpb_user_name=SYSDBA", "ISC_DPB_PASSWORD=" + password},
      {"  user_name\t=SYSDBA", "", "   ", "password=" + password},
  };
  for (const auto& params : spellings) EXPECT_EQ(BuildDPB(params), LoginDpb()) << params[0];
}

// The block says its strings are UTF-8, and a password is compared byte for byte: the value's
// bytes go out as they are, also bytes that are not UTF-8.
TEST(BuildDPB, ValuesAreSentUnchangedAsUtf8) {
  EXPECT_EQ(BuildDPB({"password= è€"}), (Bytes{1, 29, 6, ' ', 0xC3, 0xA8, 0xE2, 0x82, 0xAC, 77, 0}));
  EXPECT_EQ(BuildDPB({"password=\xE8"}), (Bytes{1, 29, 1, 0xE8, 77, 0}));
  EXPECT_EQ(BuildDPB({"password"}), (Bytes{1, 29, 0, 77, 0}));
  EXPECT_EQ(BuildDPB({}), (Bytes{1, 77, 0}));
}

TEST(BuildDPB, UnknownNameAndOverlongValueFail) {
  EXPECT_CLIENT_ERROR(BuildDPB({"user_name=A", "Lc_Ctype=WIN1252"}), 114, "DPB Constant (Lc_Ctype) is unknown");
  // The length travels in one byte: a longer value must not wrap around.
  const auto raised = Raised([] { BuildDPB({"password=" + std::string(256, 'x')}); });
  EXPECT_EQ(raised.kind, "client");
  EXPECT_EQ(raised.message, "Value of DPB constant (password) is too long");
  EXPECT_EQ(BuildDPB({"password=" + std::string(255, 'x')}).size(), 260u);
}

// The process's name goes in the block as valid UTF-8 whatever the program file's path holds: the
// client library would otherwise add that path as it is, which the server cannot read when it is
// not UTF-8.
TEST(BuildDPB, TheProcessNameIsValidUtf8) {
  EXPECT_EQ(BuildDPB({"password=x"}, db::ProcessNameForAttach("/opt/k\xFF/korvane")),
            (Bytes{1,    29,   1,   'x', 74,  17,  '/', 'o', 'p', 't', '/', 'k', 0xEF,
                   0xBF, 0xBD, '/', 'k', 'o', 'r', 'v', 'a', 'n', 'e', 77,  0}));
  EXPECT_EQ(db::ProcessNameForAttach("/opt/Contabilità/korvane"), "/opt/Contabilità/korvane");
  // A long path keeps its end, from a character's start.
  EXPECT_EQ(db::ProcessNameForAttach("/" + std::string(300, 'x') + "à" + std::string(254, 'y')), std::string(254, 'y'));
  EXPECT_EQ(db::ProcessNameForAttach("/" + std::string(300, 'x') + "/àb" + std::string(252, 'y')),
            "àb" + std::string(252, 'y'));
}

TEST(BuildTPB, DefaultIsEmptySnapshotIsThreeBytes) {
  EXPECT_TRUE(BuildTPB({}).empty());
  EXPECT_EQ(BuildTPB({"concurrency", "nowait"}), (Bytes{3, 2, 7}));
  EXPECT_EQ(BuildTPB({"isc_tpb_Concurrency", " ", "NOWAIT"}), (Bytes{3, 2, 7}));
  EXPECT_EQ(BuildTPB({"read_committed", "rec_version", "wait", "read"}), (Bytes{3, 15, 17, 6, 8}));
  EXPECT_CLIENT_ERROR(BuildTPB({"concurrency", "sometimes"}), 115, "TPB Constant (sometimes) is unknown");
}

TEST(BuildTPB, ALockTimeoutCarriesItsSeconds) {
  EXPECT_EQ(BuildTPB({"read_committed", "wait", "lock_timeout=10"}), (Bytes{3, 15, 6, 21, 4, 10, 0, 0, 0}));
  EXPECT_EQ(BuildTPB({"ISC_TPB_LOCK_TIMEOUT = 300"}), (Bytes{3, 21, 4, 0x2C, 1, 0, 0}));
  for (const char* wrong : {"lock_timeout=0", "lock_timeout=-1", "lock_timeout=x", "lock_timeout=", "wait=1"}) {
    EXPECT_CLIENT_ERROR(BuildTPB({wrong}), 115, std::string("TPB Constant (") + wrong + ") is unknown");
  }
}

}  // namespace
}  // namespace korvane::testing
