// The import run inside the test process: its inputs, its gate and the program folder are handed
// in, so the run's flow is checked without starting the program.

#include "app/ImportRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/StopSignals.h"
#include "support/ProgramFolder.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;

class ImportRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The TLS library reads its trust store from the process's environment.
    const std::string ca = folder_.Program() + ".ca.pem";
    testing::TestCertificates::Get().WriteCaPem(ca);
    setenv("SSL_CERT_FILE", ca.c_str(), 1);
    unsetenv("SSL_CERT_DIR");
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  // Runs an import of the folder's user and company against `registry`, with these variables.
  RunOutcome Run(TlsTestServer& registry, const std::vector<std::string>& extra = {}) {
    environment_["KORVANE_REGISTRY_URL"] = registry.Url("/base/");
    ImportRun run(
        testing::ProgramFolder::Arguments(extra),
        [this](const char* name) -> const char* {
          const auto found = environment_.find(name);
          return found == environment_.end() ? nullptr : found->second.c_str();
        },
        gate_, folder_.Program());
    const RunOutcome outcome = run.Execute();
    run.Release();
    return outcome;
  }

  // Any file stands for the program: the run finds its users database beside it.
  testing::ProgramFolder folder_{"/bin/true"};
  platform::RunGate gate_;
  std::map<std::string, std::string> environment_;
};

TEST_F(ImportRunTest, AnImportCommitsAndSettlesItsGateWithSuccess) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  const RunOutcome outcome = Run(registry);
  EXPECT_EQ(outcome.line, "0124");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(gate_.SettledExitCode(), 0);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
  EXPECT_NE(registry.Request().find("GET /base/01234567890 HTTP/1.1\r\n"), std::string::npos);
}

TEST_F(ImportRunTest, ARunThatFailsBeforeTheCallSendsNoRequestAndSettlesWithFailure) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  // A code longer than its column is refused before the registry is paid.
  const RunOutcome outcome = Run(registry, {"-CODICESOGGETTO", std::string(80, '7')});
  registry.Stop();
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(gate_.SettledExitCode(), 1);
  EXPECT_EQ(registry.Request(), "");
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123"}));
}

TEST_F(ImportRunTest, TheLoginComesFromTheLookupHandedIn) {
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer())});
  environment_["KORVANE_DB_USER"] = "SYSDBA";
  environment_["ISC_USER"] = "nobody";
  EXPECT_EQ(Run(registry).exitCode, 0);
}

}  // namespace
}  // namespace korvane
