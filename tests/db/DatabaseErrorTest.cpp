// What the layer reads from a status vector, with vectors laid out as the client library
// fills them.

#include <gtest/gtest.h>

#include <vector>

#include "LayerTest.h"
#include "db/ClientLibrary.h"

namespace korvane::testing {
namespace {

// One isc_arg_gds cluster per code, each followed by its string arguments.
struct Cluster {
  ISC_STATUS code;
  std::vector<const char*> arguments;
};

std::vector<ISC_STATUS> StatusVector(const std::vector<Cluster>& clusters) {
  std::vector<ISC_STATUS> status;
  for (const Cluster& cluster : clusters) {
    status.insert(status.end(), {isc_arg_gds, cluster.code});
    for (const char* argument : cluster.arguments) {
      status.insert(status.end(), {isc_arg_string, reinterpret_cast<ISC_STATUS>(argument)});
    }
  }
  status.push_back(isc_arg_end);
  return status;
}

TEST(StatusText, LinesJoinedAndOneFinalFullStopRemoved) {
  db::LoadClientLibrary();
  auto text = [](std::vector<const char*> lines) {
    std::vector<Cluster> clusters;
    for (const char* line : lines) clusters.push_back({isc_random, {line}});
    return db::StatusText(StatusVector(clusters).data());
  };
  EXPECT_EQ(text({"first line", "second."}), "first line\r\nsecond");
  EXPECT_EQ(text({"wait..."}), "wait..");
  EXPECT_EQ(text({"caff\xE8 \x80"}), "caffè €");
}

TEST(DatabaseErrorOf, ReadsCodesPastEveryKindOfArgument) {
  db::LoadClientLibrary();
  // A counted string takes two slots after its tag; a code after it must still be found.
  const char counted[] = "xyz";
  const std::vector<ISC_STATUS> status{
      isc_arg_gds, isc_random,  isc_arg_cstring,     3,          reinterpret_cast<ISC_STATUS>(counted), isc_arg_number,
      7,           isc_arg_gds, db::kConnectionLost, isc_arg_end};
  const db::DatabaseError error = db::DatabaseErrorOf(status.data());
  EXPECT_EQ(error.FirstCode(), isc_random);
  EXPECT_TRUE(error.Holds(isc_random));
  EXPECT_TRUE(error.Holds(db::kConnectionLost));
  EXPECT_FALSE(error.Holds(3));  // the count of the string is no code
  EXPECT_FALSE(error.Holds(db::kNetworkError));
}

TEST(DatabaseErrorOf, RaisesTheKindBySQLCode) {
  db::LoadClientLibrary();
  const auto noPermission = StatusVector({{isc_no_priv, {"SELECT", "TABLE", "T"}}});
  RaisedError raised = Raised([&] { db::DatabaseErrorOf(noPermission.data()).Raise(); });
  EXPECT_EQ(raised.kind, "role");
  EXPECT_EQ(raised.sqlCode, -551);
  EXPECT_EQ(raised.ibErrorCode, isc_no_priv);
  EXPECT_EQ(raised.message, "no permission for SELECT access to TABLE T");

  const auto lost = StatusVector({{db::kNetworkError, {"x"}}, {db::kConnectionLost, {}}});
  const db::DatabaseError error = db::DatabaseErrorOf(lost.data());
  EXPECT_EQ(error.SQLCode(), -902);
  raised = Raised([&] { error.Raise(); });
  EXPECT_EQ(raised.kind, "interbase");
  EXPECT_EQ(raised.sqlCode, -902);
  EXPECT_EQ(raised.ibErrorCode, db::kNetworkError);
}

}  // namespace
}  // namespace korvane::testing
