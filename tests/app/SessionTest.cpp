// A session opened once and several subjects imported on it, in the test process: the real
// embedded archive, a scripted TLS registry for each request, reached through a CONNECT proxy
// that hands each connection to the next server.

#include "app/run/Session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "InProcessRun.h"
#include "app/run/Assessment.h"
#include "app/run/SubjectImport.h"
#include "config/QelDBUtility.h"
#include "config/ReadTransaction.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/StopSignals.h"
#include "support/ConnectProxy.h"
#include "support/FirebirdFixture.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

class SessionTest : public testing::InProcessRunTest {
 protected:
  // The session's part of an ordinary run's request, the registry at `url` through `proxy`.
  SessionInputs Inputs(const std::string& url, const testing::ConnectProxy& proxy) {
    return Inputs({{"KORVANE_REGISTRY_URL", url}, {"https_proxy", "127.0.0.1:" + std::to_string(proxy.Port())}});
  }
  SessionInputs Inputs(const std::map<std::string, std::string>& environment) {
    const RunRequest request = Request(testing::ProgramFolder::Arguments(), environment);
    EXPECT_EQ(request.refusal, "");
    return request.inputs->session;
  }

  static std::vector<TlsTestServer::Step> Answers() {
    return {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()};
  }

  // The transactions open on the archive's connection, this count's own read not included.
  static int OpenTransactions(Session& session) {
    return config::ReadInTransaction(
               session.Archive(), TIBTransactionLevel::ibtrDefault,
               [](TIBSQL& sql) {
                 sql.AddLine("SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
                 sql.ExecQuery();
                 return sql.Fields(0).AsInteger();
               }) -
           1;
  }
};

// Three subjects on one session and one gate, as a list imports them: each ends with no
// transaction left open on the archive, and each request is made afresh.
TEST_F(SessionTest, ThreeSubjectsOnOneGateLeaveNoTransactionOpen) {
  TlsTestServer first(Answers());
  TlsTestServer second(Answers());
  TlsTestServer third(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port(), third.Port()}});
  Session session;
  session.Open(Inputs(first.Url("/base/"), proxy), folder_.Program());

  platform::RunGate gate;
  const std::vector<std::string> numbers{"01234567890", "09876543210", "11111111111"};
  const std::vector<std::string> codes{"0124", "0125", "0126"};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const RunOutcome outcome = ImportSubject(session, {numbers[i], ""}, gate);
    EXPECT_EQ(outcome.line, codes[i]);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.kind, OutcomeKind::Committed);
    EXPECT_EQ(outcome.code, codes[i]);
    EXPECT_EQ(outcome.registryStatus, 200);
    EXPECT_TRUE(outcome.requestSent);
    EXPECT_EQ(OpenTransactions(session), 0) << "after subject " << i + 1;
  }
  EXPECT_NE(second.Request().find("GET /base/09876543210 HTTP/1.1\r\nAccept: application/json\r\n"
                                  "Authorization: Bearer segreto\r\nHost: "),
            std::string::npos);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125", "0126"}));
}

// The session numbers its subjects from the codes it knows; a code another writer stores
// meanwhile is passed over when the insert finds it taken.
TEST_F(SessionTest, ACodeWrittenMeanwhileByAnotherWriterIsPassedOver) {
  TlsTestServer first(Answers());
  TlsTestServer second(Answers());
  TlsTestServer third(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port(), third.Port()}});
  Session session;
  session.Open(Inputs(first.Url("/base/"), proxy), folder_.Program());
  platform::RunGate gate;
  EXPECT_EQ(ImportSubject(session, {"01234567890", ""}, gate).line, "0124");
  {
    TIBDatabase other;
    OpenIBDatabaseFile(other, folder_.Archive());
    TIBSQL insert(&other);
    TIBTransaction& transaction =
        insert.OwnTransaction(std::make_unique<TIBTransaction>(&other, TIBTransactionLevel::ibtrSnapshot));
    insert.AddLine("INSERT INTO CLIENTI (CODICE, PI) VALUES ('0125', '05555555555')");
    transaction.StartTransaction();
    insert.ExecQuery();
    transaction.Commit();
  }
  const RunOutcome passedOver = ImportSubject(session, {"09876543210", ""}, gate);
  EXPECT_EQ(passedOver.line, "0126");
  EXPECT_EQ(passedOver.kind, OutcomeKind::Committed);
  EXPECT_EQ(ImportSubject(session, {"11111111111", ""}, gate).line, "0127");
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125", "0126", "0127"}));
}

// A stop signal between two subjects: the first keeps its outcome, the second does not begin
// (nothing asked, nothing written) and says why.
TEST_F(SessionTest, AStopBetweenTwoSubjectsEndsTheSessionCleanly) {
  TlsTestServer first(Answers());
  TlsTestServer second(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port()}});
  Session session;
  session.Open(Inputs(first.Url("/base/"), proxy), folder_.Program());
  platform::RunGate gate;
  EXPECT_EQ(ImportSubject(session, {"01234567890", ""}, gate).kind, OutcomeKind::Committed);

  EXPECT_EQ(gate.OnStopSignal("SIGTERM").kind, platform::RunGate::Stop::Kind::Kept);
  const RunOutcome stopped = ImportSubject(session, {"09876543210", ""}, gate);
  EXPECT_EQ(stopped.kind, OutcomeKind::Stopped);
  EXPECT_EQ(stopped.line, "Operazione interrotta (SIGTERM)");
  EXPECT_EQ(stopped.exitCode, 1);
  EXPECT_FALSE(stopped.requestSent);
  EXPECT_FALSE(second.WaitForRequest(0));
  gate.EnterFinish(0);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

// A stop signal during the second subject's registry call stops that subject, at once: the first
// subject's commit is long over and its line is no longer anyone's.
TEST_F(SessionTest, AStopDuringTheSecondSubjectsCallStopsTheSecondSubject) {
  TlsTestServer first(Answers());
  TlsTestServer second({TlsTestServer::ExpectRequest(), TlsTestServer::Pause(300), TlsTestServer::Close()});
  testing::ConnectProxy proxy({.upstreamPorts = {first.Port(), second.Port()}});
  Session session;
  session.Open(Inputs(first.Url("/base/"), proxy), folder_.Program());
  platform::RunGate gate;
  EXPECT_EQ(ImportSubject(session, {"01234567890", ""}, gate).kind, OutcomeKind::Committed);

  platform::RunGate::Stop stop{platform::RunGate::Stop::Kind::Ignore, {}};
  std::chrono::steady_clock::duration waited{};
  std::thread signal([&] {
    ASSERT_TRUE(second.WaitForRequest(10000));
    const auto start = std::chrono::steady_clock::now();
    stop = gate.OnStopSignal("SIGTERM");
    waited = std::chrono::steady_clock::now() - start;
  });
  const RunOutcome two = ImportSubject(session, {"09876543210", ""}, gate);
  signal.join();
  // The process's watcher writes "Operazione interrotta (SIGTERM)" for it and ends the process.
  EXPECT_EQ(stop.kind, platform::RunGate::Stop::Kind::Interrupt);
  EXPECT_EQ(stop.line, "");
  EXPECT_LT(waited, std::chrono::seconds(2));
  // Here, in the test process, the call goes on and fails: the request had left.
  EXPECT_EQ(two.kind, OutcomeKind::PaidNotWritten);
  EXPECT_TRUE(two.requestSent);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

// A subject that fails before paying leaves the session as it was: the next one is imported.
TEST_F(SessionTest, ASubjectRefusedBeforePayingLeavesTheSessionUsable) {
  TlsTestServer registry(Answers());
  testing::ConnectProxy proxy({.upstreamPorts = {registry.Port()}});
  Session session;
  session.Open(Inputs(registry.Url("/base/"), proxy), folder_.Program());
  platform::RunGate gate;
  // A code longer than its column is refused before the registry is paid.
  const RunOutcome refused = ImportSubject(session, {"01234567890", std::string(80, '7')}, gate);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.kind, OutcomeKind::RefusedBeforePaying);
  EXPECT_FALSE(registry.WaitForRequest(0));
  const RunOutcome imported = ImportSubject(session, {"01234567890", "C9"}, gate);
  EXPECT_EQ(imported.line, "C9");
  EXPECT_EQ(imported.exitCode, 0);
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "C9"}));
}

// What a run would do for each subject, assessed on an open session with nothing reserved or
// recorded: a stored number the company reuses, a number to pay for, a given code already taken.
TEST_F(SessionTest, AnAssessmentSaysWhatARunWouldDoAndChangesNothing) {
  testing::RunIsql(folder_.Archive(),
                   "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);\n"
                   "INSERT INTO CLIENTI (CODICE, PI) VALUES ('C7', 'IT01234567890');\n");
  const std::string ledger = folder_.Program() + ".ledger";
  Session session;
  // Nothing listens there: no request can leave.
  session.Open(Inputs({{"KORVANE_REGISTRY_URL", "https://127.0.0.1:1/base/"}, {"KORVANE_LEDGER", ledger}}),
               folder_.Program());
  struct Case {
    SubjectInputs subject;
    Verdict verdict;
    std::string codeOrRefusal;
  };
  const std::vector<Case> cases{
      {{"01234567890", ""}, Verdict::Reuse, "C7"},
      {{"09876543210", ""}, Verdict::Pay, "0124"},
      {{"09876543210", "0123"}, Verdict::Refuse, "Codice soggetto 0123 già presente in archivio"},
  };
  for (const Case& c : cases) {
    const Assessment assessment = AssessSubject(session, c.subject);
    EXPECT_EQ(assessment.verdict, c.verdict) << c.subject.vatNumber.Cleaned();
    EXPECT_EQ(c.verdict == Verdict::Refuse ? assessment.refusal : assessment.code.Codice, c.codeOrRefusal);
  }
  EXPECT_EQ(OpenTransactions(session), 0);
  std::ifstream lines(ledger);
  std::string all((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all.find("richiesta\t"), std::string::npos) << all;
  session.Release();
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "C7"}));
}

// A request that cannot connect has no status, in the outcome and in the ledger, whatever the
// request before it was answered with.
TEST_F(SessionTest, AFailedConnectIsNeverRecordedWithAnEarlierStatus) {
  TlsTestServer registry(Answers());
  // The second connection is closed before any handshake.
  TlsTestServer closing({TlsTestServer::Drop()}, {.handshake = false});
  testing::ConnectProxy proxy({.upstreamPorts = {registry.Port(), closing.Port()}});
  const std::string ledger = folder_.Program() + ".ledger";
  Session session;
  session.Open(Inputs({{"KORVANE_REGISTRY_URL", registry.Url("/base/")},
                       {"https_proxy", "127.0.0.1:" + std::to_string(proxy.Port())},
                       {"KORVANE_LEDGER", ledger}}),
               folder_.Program());
  platform::RunGate gate;
  const RunOutcome one = ImportSubject(session, {"01234567890", ""}, gate);
  EXPECT_EQ(one.registryStatus, 200);

  const RunOutcome two = ImportSubject(session, {"09876543210", ""}, gate);
  EXPECT_EQ(two.exitCode, 1);
  EXPECT_EQ(two.kind, OutcomeKind::RefusedBeforePaying) << two.line;
  EXPECT_EQ(two.registryStatus, 0);
  EXPECT_FALSE(two.requestSent);
  session.Release();

  std::vector<std::string> outcomes;  // the "esito" column of each outcome line
  std::ifstream lines(ledger);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() > 9 && fields[1] == "esito") outcomes.push_back(fields[9]);
  }
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0], "200");
  EXPECT_NE(outcomes[1], "200");
  EXPECT_FALSE(outcomes[1].empty());
}

}  // namespace
}  // namespace korvane
