// The single run inside the test process: its request, its gate and the program folder are handed
// in, so the run's flow is checked without starting the program.

#include "app/run/SingleRun.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "InProcessRun.h"
#include "platform/StopSignals.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

class SingleRunTest : public testing::InProcessRunTest {
 protected:
  // Runs an import of the folder's user and company against `registry`, with these variables.
  RunOutcome Run(TlsTestServer& registry, const std::vector<std::string>& extra = {}) {
    environment_["KORVANE_REGISTRY_URL"] = registry.Url("/base/");
    SingleRun run(gate_, folder_.Program());
    const RunOutcome outcome = run.Execute(Request(testing::ProgramFolder::Arguments(extra), environment_));
    run.Release();
    return outcome;
  }

  platform::RunGate gate_;
  std::map<std::string, std::string> environment_;
};

TEST_F(SingleRunTest, AnImportCommitsAndSettlesItsGateWithSuccess) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  const RunOutcome outcome = Run(registry);
  EXPECT_EQ(outcome.line, "0124");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(gate_.SettledExitCode(), 0);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
  EXPECT_NE(registry.Request().find("GET /base/01234567890 HTTP/1.1\r\n"), std::string::npos);
}

TEST_F(SingleRunTest, ARunThatFailsBeforeTheCallSendsNoRequestAndSettlesWithFailure) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  // A code longer than its column is refused before the registry is paid.
  const RunOutcome outcome = Run(registry, {"-CODICESOGGETTO", std::string(80, '7')});
  registry.Stop();
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(gate_.SettledExitCode(), 1);
  EXPECT_EQ(registry.Request(), "");
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123"}));
}

TEST_F(SingleRunTest, TheLoginComesFromTheLookupHandedIn) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  environment_["KORVANE_DB_USER"] = "SYSDBA";
  environment_["ISC_USER"] = "nobody";
  EXPECT_EQ(Run(registry).exitCode, 0);
}

}  // namespace
}  // namespace korvane
