// A session opened once and several subjects imported on it, in the test process: the real
// embedded archive, a scripted TLS registry for each request, reached through a CONNECT proxy
// that hands each connection to the next server.

#include "app/run/Session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InProcessRun.h"
#include "app/run/SubjectImport.h"
#include "config/ReadTransaction.h"
#include "platform/StopSignals.h"
#include "support/ConnectProxy.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

class SessionTest : public testing::InProcessRunTest {
 protected:
  // The session's part of an ordinary run's request, the registry at `url` through `proxy`.
  SessionInputs Inputs(const std::string& url, const testing::ConnectProxy& proxy) {
    const RunRequest request =
        Request(testing::ProgramFolder::Arguments(),
                {{"KORVANE_REGISTRY_URL", url}, {"https_proxy", "127.0.0.1:" + std::to_string(proxy.Port())}});
    EXPECT_EQ(request.refusal, "");
    return request.inputs->session;
  }

  static std::vector<TlsTestServer::Step> Answers() {
    return {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()};
  }
};

TEST_F(SessionTest, TwoSubjectsAreImportedOnOneSession) {
  TlsTestServer first(Answers());
  TlsTestServer second(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port()}});
  Session session;
  session.Open(Inputs(first.Url("/base/"), proxy), folder_.Program());

  platform::RunGate firstGate, secondGate;
  const RunOutcome one = ImportSubject(session, {"01234567890", ""}, firstGate);
  const RunOutcome two = ImportSubject(session, {"09876543210", ""}, secondGate);
  EXPECT_EQ(one.line, "0124");
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(two.line, "0125");
  EXPECT_EQ(two.exitCode, 0);
  // Each request is made afresh: its header lines once each.
  EXPECT_NE(first.Request().find("GET /base/01234567890 HTTP/1.1\r\nAccept: application/json\r\n"
                                 "Authorization: Bearer segreto\r\nHost: "),
            std::string::npos);
  EXPECT_NE(second.Request().find("GET /base/09876543210 HTTP/1.1\r\nAccept: application/json\r\n"
                                  "Authorization: Bearer segreto\r\nHost: "),
            std::string::npos);

  // The only transactions left open on the archive are the two reads per computed code that the
  // tool's interface leaves open (the width setting and the highest code); this count's own read
  // is the one more.
  const int open = config::ReadInTransaction(session.Archive(), TIBTransactionLevel::ibtrDefault, [](TIBSQL& sql) {
    sql.AddLine("SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
    sql.ExecQuery();
    return sql.Fields(0).AsInteger();
  });
  EXPECT_EQ(open, 2 * 2 + 1);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125"}));
  EXPECT_EQ(folder_.Customer("0125").size(), 1u);
}

// A subject that fails before paying leaves the session as it was: the next one is imported.
TEST_F(SessionTest, ASubjectRefusedBeforePayingLeavesTheSessionUsable) {
  TlsTestServer registry(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {registry.Port()}});
  Session session;
  session.Open(Inputs(registry.Url("/base/"), proxy), folder_.Program());
  platform::RunGate firstGate, secondGate;
  // A code longer than its column is refused before the registry is paid.
  const RunOutcome refused = ImportSubject(session, {"01234567890", std::string(80, '7')}, firstGate);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_FALSE(registry.WaitForRequest(0));
  const RunOutcome imported = ImportSubject(session, {"01234567890", "C9"}, secondGate);
  EXPECT_EQ(imported.line, "C9");
  EXPECT_EQ(imported.exitCode, 0);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "C9"}));
}

}  // namespace
}  // namespace korvane
