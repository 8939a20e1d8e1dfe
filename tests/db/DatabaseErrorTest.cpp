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

// What the library places into its message texts (a file name from a stored value, a key value)
// cannot add lines to the message or reach the terminal: its control characters are shown as "?".
// The library's own line breaks stay, as CR LF.
TEST(StatusText, ControlCharactersOfTheArgumentsAreShownAsQuestionMarks) {
  db::LoadClientLibrary();
  const char counted[] = "a\rb";
  const std::vector<ISC_STATUS> status{isc_arg_gds,
                                       isc_io_error,
                                       isc_arg_string,
                                       reinterpret_cast<ISC_STATUS>("open"),
                                       isc_arg_string,
                                       reinterpret_cast<ISC_STATUS>("/srv/x\r\ny\x1B[2J.fdb"),
                                       isc_arg_gds,
                                       isc_random,
                                       isc_arg_cstring,
                                       3,
                                       reinterpret_cast<ISC_STATUS>(counted),
                                       isc_arg_gds,
                                       isc_random,
                                       isc_arg_string,
                                       reinterpret_cast<ISC_STATUS>("caff\xE8\x7F\x85"),
                                       isc_arg_end};
  EXPECT_EQ(db::StatusText(status.data()),
            "I/O error during \"open\" operation for file \"/srv/x??y?[2J.fdb\"\r\na?b\r\ncaffè?…");
  // File names of an attach, read as UTF-8: a C1 control is shown as "?" too.
  const std::vector<ISC_STATUS> attach{isc_arg_gds, isc_random, isc_arg_string,
                                       reinterpret_cast<ISC_STATUS>("/srv/\xC2\x85x.fdb"), isc_arg_end};
  EXPECT_EQ(db::StatusText(attach.data(), db::StatusLines::AttachNames), "/srv/?x.fdb");
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

// One rule tells a lost connection, wherever its code stands in the vector, and the raised error
// carries what the layer decided: the layer (which stops talking to the connection) and the
// callers that ask the error never disagree.
TEST(DatabaseErrorOf, ALostConnectionIsDecidedOnceAndCarriedOnTheError) {
  db::LoadClientLibrary();
  struct Case {
    const char* name;
    std::vector<Cluster> clusters;
    bool lost;
  };
  const std::vector<Case> cases{
      {"network error first", {{db::kNetworkError, {"x"}}, {db::kNetworkReadError, {}}}, true},
      {"lost connection after another code", {{isc_random, {"statement failed"}}, {db::kConnectionLost, {}}}, true},
      {"write failure after another code", {{isc_random, {"x"}}, {db::kNetworkWriteError, {}}}, true},
      {"connection shut down", {{db::kConnectionShutdown, {}}}, true},
      {"key taken", {{db::kUniqueKeyViolation, {"PK", "T"}}}, false},
      {"lock conflict", {{db::kLockConflict, {}}, {db::kConcurrentTransaction, {}}}, false},
  };
  for (const Case& c : cases) {
    const auto status = StatusVector(c.clusters);
    const db::DatabaseError error = db::DatabaseErrorOf(status.data());
    EXPECT_EQ(error.LostConnection(), c.lost) << c.name;
    try {
      error.Raise();
    } catch (const EIBError& raised) {
      EXPECT_EQ(raised.ConnectionLost(), c.lost) << c.name;
      EXPECT_EQ(db::ConnectionLost(raised), c.lost) << c.name;
    }
  }
  // Errors of the layer's own checks and other errors never say so.
  EXPECT_FALSE(db::ConnectionLost(EIBClientError(db::kDatabaseClosed, "Cannot perform operation -- DB is not open")));
  EXPECT_FALSE(db::ConnectionLost(Exception("other")));
}

}  // namespace
}  // namespace korvane::testing
