// KORVANE_TRACE: a timed line per step for whoever supports an installation, never a secret,
// and a trace that cannot be written changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::RunProgram;
using testing::TlsTestServer;

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TlsTestServer Registry(const std::string& answer) {
  return TlsTestServer({TlsTestServer::ExpectRequest(), TlsTestServer::Send(answer), TlsTestServer::Close()});
}

// Every line starts with the milliseconds since the start.
void ExpectTimedLines(const std::string& trace) {
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_search(line, std::regex("^ *[0-9]+ ms  "))) << line;
  }
}

TEST(Trace, ASuccessfulRunTracesItsStepsAndNoSecret) {
  ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir dir;
  const std::string tracePath = dir.File("korvane.trace");
  TlsTestServer registry = Registry(testing::CompleteAnswer());
  auto environment = folder.Environment(registry);
  environment["KORVANE_TRACE"] = tracePath;
  const auto result = RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
  ASSERT_EQ(result.out, "0124\r\n");

  const std::string trace = FileText(tracePath);
  for (const char* step : {"korvane started", "command line: user 5, company 01, kind C, VAT 01234567890",
                           "registry: https://localhost:", "users database opened: ", "user 5 (Anna), company 01",
                           "archive opened: ", "code computed: 0124", "connected to localhost:",
                           "TLS TLSv1.", "server certificate: ", "certificate verification: ok",
                           "request on the prepared channel",
                           "request: GET /base/01234567890 HTTP/1.1 | Accept: application/json | "
                           "Authorization: Bearer *** | Host: localhost:",
                           "answer: HTTP/1.1 200 OK, ", "insert into CLIENTI, code 0124", "committed",
                           "line printed: 0124", "exit code 0"}) {
    EXPECT_NE(trace.find(step), std::string::npos) << step << "\n" << trace;
  }
  EXPECT_EQ(trace.find("segreto"), std::string::npos);
  EXPECT_EQ(trace.find("Rossi"), std::string::npos);  // nothing of the answer's body
  ExpectTimedLines(trace);

  // A second run appends.
  const auto second = RunProgram(folder.Program(), {}, {{"KORVANE_TRACE", tracePath}});
  const std::string both = FileText(tracePath);
  EXPECT_EQ(both.substr(0, trace.size()), trace);
  EXPECT_NE(both.find("line printed: Nessun parametro specificato", trace.size()), std::string::npos);
}

TEST(Trace, AFailingRunTracesWhereItStopped) {
  ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir dir;
  const std::string tracePath = dir.File("korvane.trace");
  TlsTestServer registry = Registry(testing::JsonAnswer(R"({"success":false})"));
  auto environment = folder.Environment(registry);
  environment["KORVANE_TRACE"] = tracePath;
  const auto result = RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
  ASSERT_EQ(result.out, "Chiamata Api fallita\r\n");
  const std::string trace = FileText(tracePath);
  EXPECT_NE(trace.find("line printed: Chiamata Api fallita"), std::string::npos) << trace;
  EXPECT_NE(trace.find("exit code 1"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("insert into"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("segreto"), std::string::npos);
}

TEST(Trace, AnUntrustedRegistryIsTracedWithTheVerificationResult) {
  ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir dir;
  const std::string tracePath = dir.File("korvane.trace");
  TlsTestServer registry({TlsTestServer::ExpectRequest()}, {.certificate = TlsTestServer::Certificate::UntrustedCa});
  auto environment = folder.Environment(registry);
  environment["KORVANE_TRACE"] = tracePath;
  const auto result = RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
  ASSERT_EQ(result.exitCode, 1);
  const std::string trace = FileText(tracePath);
  EXPECT_NE(trace.find("TLS handshake failed: Error connecting with SSL.??"), std::string::npos) << trace;
  EXPECT_NE(trace.find("certificate verification: unable to get local issuer certificate"), std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("request: "), std::string::npos) << trace;
  EXPECT_EQ(trace.find("segreto"), std::string::npos);
}

TEST(Trace, ATraceThatCannotBeWrittenChangesNothing) {
  testing::TempDir dir;
  for (const std::string& path : {dir.File("missing/folder/trace"), dir.Path().string(), std::string("/dev/full")}) {
    ProgramFolder folder(KORVANE_BINARY);
    TlsTestServer registry = Registry(testing::CompleteAnswer());
    auto environment = folder.Environment(registry);
    environment["KORVANE_TRACE"] = path;
    const auto result = RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
    EXPECT_EQ(result.out, "0124\r\n") << path;
    EXPECT_EQ(result.err, "") << path;
    EXPECT_EQ(result.exitCode, 0) << path;
  }
}

}  // namespace
}  // namespace korvane
