// KORVANE_DB_USER / KORVANE_DB_PASSWORD: a firm's own database login for every connection of a
// run, through the real server, and never the password in any output or trace. The database
// tools' ISC_USER / ISC_PASSWORD change nothing. The test server's SYSDBA password is generated on
// the machine, so the built-in login is refused there.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "serverlogin/ServerLogin.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::TlsTestServer;

constexpr const char* kRefusedLogin =
    "Your user name and password are not defined. Ask your database administrator to set up a Firebird login";

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// A program folder whose two databases go through the server, and a user of the server with
// every right on the tables a run reads and writes.
class DatabaseLoginTest : public ::testing::Test {
 protected:
  DatabaseLoginTest() {
    user_.GrantTables(folder_.Users(), {"UTENTI", "TABSOFTDES"});
    user_.GrantTables(folder_.Archive(), {"CLIENTI", "FORNITO", "TABX"});
  }

  // Imports 01234567890 with these variables added to the usual ones; `trace` receives the trace.
  testing::ProgramResult Run(const ProgramFolder& folder, std::map<std::string, std::string> variables,
                             const std::string& trace) {
    TlsTestServer registry(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
    auto environment = folder.Environment(registry);
    environment.erase("KORVANE_DB_USER");
    environment.erase("KORVANE_DB_PASSWORD");
    variables["KORVANE_TRACE"] = trace;
    for (const auto& [name, value] : variables) environment[name] = value;
    return testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
  }

  testing::TempDir traces_;
  ProgramFolder folder_{KORVANE_BINARY,
                        testing::ProgramFolderOptions{.throughServer = true, .usersThroughServer = true}};
  testing::ServerUser user_{"Pw-k7q2xv"};
};

TEST_F(DatabaseLoginTest, TheFirmsLoginReplacesTheBuiltInOneAndIsNeverShown) {
  const std::string wrong = "Sbagliata-93";
  struct Case {
    std::string name;
    std::map<std::string, std::string> variables;
    std::string out, traced;
  };
  const Case cases[] = {
      {"the firm's user",
       {{"KORVANE_DB_USER", user_.Name()}, {"KORVANE_DB_PASSWORD", user_.Password()}},
       "0124",
       "database login: user " + user_.Name() + " (KORVANE_DB_USER), password (KORVANE_DB_PASSWORD)"},
      {"a wrong password",
       {{"KORVANE_DB_USER", user_.Name()}, {"KORVANE_DB_PASSWORD", wrong}},
       kRefusedLogin,
       "attach failed: " + std::string(kRefusedLogin)},
      {"the user alone keeps the built-in password",
       {{"KORVANE_DB_USER", user_.Name()}},
       kRefusedLogin,
       "database login: user " + user_.Name() + " (KORVANE_DB_USER), password (built-in)"},
      {"the password alone keeps the built-in user",
       {{"KORVANE_DB_PASSWORD", serverlogin::Password()}},
       "0125",
       "database login: user SYSDBA (built-in), password (KORVANE_DB_PASSWORD)"},
      // The test server's SYSDBA password is not the built-in one: the built-in login is refused.
      {"empty values are no values",
       {{"KORVANE_DB_USER", ""}, {"KORVANE_DB_PASSWORD", ""}},
       kRefusedLogin,
       "database login: user SYSDBA (built-in), password (built-in)"},
      {"the tools' variables are not read",
       {{"ISC_USER", user_.Name()}, {"ISC_PASSWORD", user_.Password()}},
       kRefusedLogin,
       "database login: user SYSDBA (built-in), password (built-in)"},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string trace = traces_.File("trace" + std::to_string(++index));
    const auto result = Run(folder_, c.variables, trace);
    EXPECT_EQ(result.out, c.out + "\r\n") << c.name;
    EXPECT_EQ(result.exitCode, c.out.starts_with("01") ? 0 : 1) << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    const std::string steps = FileText(trace);
    EXPECT_NE(steps.find(c.traced), std::string::npos) << c.name << "\n" << steps;
    for (const std::string& password :
         {user_.Password(), wrong, std::string(testing::kBuiltInPassword), serverlogin::Password()}) {
      EXPECT_EQ(result.out.find(password), std::string::npos) << c.name;
      EXPECT_EQ(steps.find(password), std::string::npos) << c.name;
    }
  }
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125"}));
}

// The archive logs in the same way: with the users database opened by the engine in the process
// (which takes the user's name without asking the password), a wrong password is refused at the
// archive, through the server.
TEST_F(DatabaseLoginTest, TheArchiveUsesTheSameLogin) {
  ProgramFolder folder(KORVANE_BINARY, testing::ProgramFolderOptions{.throughServer = true});
  user_.GrantTables(folder.Users(), {"UTENTI", "TABSOFTDES"});
  user_.GrantTables(folder.Archive(), {"CLIENTI", "FORNITO", "TABX"});
  const std::string trace = traces_.File("archive");
  const auto refused = Run(folder, {{"KORVANE_DB_USER", user_.Name()}, {"KORVANE_DB_PASSWORD", "Sbagliata-93"}}, trace);
  EXPECT_EQ(refused.out, std::string(kRefusedLogin) + "\r\n");
  const std::string steps = FileText(trace);
  EXPECT_NE(steps.find("users database opened"), std::string::npos) << steps;
  EXPECT_NE(steps.find("attaching localhost:" + folder.Archive()), std::string::npos) << steps;

  const auto accepted =
      Run(folder, {{"KORVANE_DB_USER", user_.Name()}, {"KORVANE_DB_PASSWORD", user_.Password()}}, trace);
  EXPECT_EQ(accepted.out, "0124\r\n");
}

}  // namespace
}  // namespace korvane
