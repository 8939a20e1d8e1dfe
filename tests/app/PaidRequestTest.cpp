// The paid request as a unit, in the test process: the ledger's record before it leaves, the
// answer's status, the outcome after it; and an import written from an answer in hand, which
// neither asks nor records anything.

#include "app/run/PaidRequest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "InProcessRun.h"
#include "app/run/SubjectImport.h"
#include "platform/StopSignals.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

// The ledger's lines as "event esito codice_uscita" (the outcome's fields empty for a request).
std::vector<std::string> LedgerEvents(const std::string& path) {
  std::vector<std::string> events;
  std::ifstream lines(path);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 9 || fields[1] == "evento") continue;
    events.push_back(fields[1] == "esito" && fields.size() > 10 ? "esito " + fields[9] + " " + fields[10] : fields[1]);
  }
  return events;
}

class PaidRequestTest : public testing::InProcessRunTest {
 protected:
  SessionInputs Inputs(const std::string& url, const std::string& dailyLimit = {}) {
    std::map<std::string, std::string> environment{{"KORVANE_REGISTRY_URL", url}, {"KORVANE_LEDGER", ledger_}};
    if (!dailyLimit.empty()) environment["KORVANE_DAILY_LIMIT"] = dailyLimit;
    const RunRequest request = Request(testing::ProgramFolder::Arguments(), environment);
    EXPECT_EQ(request.refusal, "");
    return request.inputs->session;
  }

  std::string ledger_ = folder_.Program() + ".ledger";
};

TEST_F(PaidRequestTest, AnAnswerIsRecordedBeforeAndAfterAndItsStatusKept) {
  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  Session session;
  session.Open(Inputs(registry.Url("/base/")), folder_.Program());
  const PaidAnswer answer = RequestAnswer(session, "01234567890");
  session.Release();
  EXPECT_EQ(answer.status, 200);
  EXPECT_TRUE(answer.requestSent);
  EXPECT_NE(answer.body.find("Rossi S.r.l."), std::string::npos);
  EXPECT_NE(registry.Request().find("GET /base/01234567890 "), std::string::npos);
  EXPECT_EQ(LedgerEvents(ledger_), (std::vector<std::string>{"richiesta", "esito 200 0"}));
}

TEST_F(PaidRequestTest, TheDailyLimitRefusesBeforeAnythingLeaves) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  Session session;
  session.Open(Inputs(registry.Url("/base/"), "0"), folder_.Program());
  try {
    RequestAnswer(session, "01234567890");
    ADD_FAILURE() << "no refusal";
  } catch (const Exception& error) {
    EXPECT_NE(error.Message().find("Limite giornaliero"), std::string::npos) << error.Message();
  }
  session.Release();
  EXPECT_FALSE(registry.WaitForRequest(200));
  EXPECT_EQ(LedgerEvents(ledger_), std::vector<std::string>{});
}

// An answer kept from an earlier request writes the subject: no request, no ledger line.
TEST_F(PaidRequestTest, AnImportFromAGivenAnswerAsksNothingAndRecordsNothing) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  Session session;
  session.Open(Inputs(registry.Url("/base/")), folder_.Program());
  const std::string answer = testing::CompleteAnswer();
  platform::RunGate gate;
  const RunOutcome outcome =
      ImportSubject(session, {"01234567890", ""}, gate, answer.substr(answer.find("\r\n\r\n") + 4));
  session.Release();
  EXPECT_EQ(outcome.line, "0124");
  EXPECT_EQ(outcome.kind, OutcomeKind::Committed);
  EXPECT_EQ(outcome.registryStatus, 0);
  EXPECT_FALSE(outcome.requestSent);
  EXPECT_FALSE(registry.WaitForRequest(200));
  EXPECT_EQ(LedgerEvents(ledger_), std::vector<std::string>{});
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

}  // namespace
}  // namespace korvane
