// What the machine does to a run (special files at a database path, a read-only archive, a lock
// folder without room, a file-size limit, a full stdout pipe, a lost connection) never costs
// more than one line and exit code 1, and never loses or doubles a paid import.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "db/IBTransaction.h"
#include "serverlogin/ServerLogin.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TcpProxy.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::ProgramResult;
using testing::RunProgram;
using testing::StartedProgram;
using testing::TlsTestServer;
using Rows = std::vector<std::string>;

TlsTestServer Registry() {
  return TlsTestServer(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
}

// Points the users' "Archivio" parameter somewhere else.
void SetArchivio(const ProgramFolder& folder, const std::string& archivio) {
  testing::RunIsql(folder.Users(), "UPDATE TABSOFTDES SET VALORE = '" + archivio + "' WHERE PARAMETRO = 'Archivio';");
}

// The run ended by itself with one line and exit code 1.
void ExpectOneLineFailure(const ProgramResult& result, const std::string& line) {
  EXPECT_EQ(result.out, line + "\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitCode, 1);
}

TEST(MachineFaults, SpecialFilesAtEitherDatabasePathEndTheRunBeforeAnyAttach) {
  const ProgramFolder folder(KORVANE_BINARY);
  const std::string place = std::filesystem::path(folder.Archive()).parent_path().string();
  const std::string fifo = place + "/fifo.fdb";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string loop = place + "/loop.fdb";
  std::filesystem::create_symlink(loop, loop);
  const std::string folderPath = place + "/folder.fdb";
  std::filesystem::create_directory(folderPath);
  for (const auto& [path, reason] : {std::pair<std::string, std::string>{fifo, "not a regular file"},
                                     {loop, "Too many levels of symbolic links"},
                                     {folderPath, "not a regular file"}}) {
    SetArchivio(folder, path);
    TlsTestServer registry = Registry();
    ExpectOneLineFailure(RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry)),
                         "I/O error during \"open\" operation for file \"" + path + "\"\r\n" + reason);
    EXPECT_FALSE(registry.WaitForRequest(0));
  }

  // The users database itself: a FIFO in its place.
  const std::string users = folder.Users();
  std::filesystem::rename(users, users + ".saved");
  ASSERT_EQ(mkfifo(users.c_str(), 0666), 0);
  TlsTestServer registry = Registry();
  ExpectOneLineFailure(RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry)),
                       "I/O error during \"open\" operation for file \"" + users + "\"\r\nnot a regular file");
  std::filesystem::remove(users);
  std::filesystem::rename(users + ".saved", users);
}

// gfix sets the database's own flag; the registry is never asked.
TEST(MachineFaults, AReadOnlyArchiveIsRefusedBeforeTheRegistryCall) {
  const ProgramFolder folder(KORVANE_BINARY);
  const ProgramResult gfix =
      RunProgram("/usr/bin/gfix", {"-user", testing::kUserName, "-mode", "read_only", folder.Archive()});
  ASSERT_EQ(gfix.exitCode, 0) << gfix.out << gfix.err;
  TlsTestServer registry = Registry();
  ExpectOneLineFailure(RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry)),
                       "Archivio in sola lettura");
  EXPECT_FALSE(registry.WaitForRequest(0));
}

// The engine maps its lock file from its lock folder: without room there it used to die by
// SIGBUS with no line.
TEST(MachineFaults, ALockFolderWithoutRoomGivesOneLine) {
  const ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir small;
  if (mount("tmpfs", small.Path().c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "no tmpfs mount here";
  TlsTestServer registry = Registry();
  auto environment = folder.Environment(registry);
  environment["FIREBIRD_LOCK"] = small.Path().string();
  const ProgramResult result = RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
  umount(small.Path().c_str());
  ExpectOneLineFailure(result, "Spazio esaurito in " + small.Path().string());
  EXPECT_FALSE(registry.WaitForRequest(0));
}

// Under a file-size limit the engine's mapped lock file cannot reach its size, and touching it
// would end the process by SIGBUS (SIGXFSZ, ignored, no longer does): refused before the attach.
TEST(MachineFaults, AFileSizeLimitGivesOneLineNotASignal) {
  const ProgramFolder folder(KORVANE_BINARY);
  TlsTestServer registry = Registry();
  std::vector<std::string> arguments{"-c", "ulimit -f 0; exec \"$0\" \"$@\"", folder.Program()};
  for (const auto& argument : ProgramFolder::Arguments()) arguments.push_back(argument);
  ExpectOneLineFailure(RunProgram("/bin/sh", arguments, folder.Environment(registry)),
                       "Limite di dimensione dei file insufficiente (ulimit -f)");
  EXPECT_EQ(folder.Customers(), Rows{"0123"});
}

// A caller whose pipe is full and never read: the stop line cannot be written, the run still
// ends at once.
TEST(MachineFaults, AStopSignalEndsTheRunEvenWhenStdoutIsAFullPipe) {
  const ProgramFolder folder(KORVANE_BINARY);
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::StaySilent()});
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry), {},
                     testing::StdoutTo::FullPipe);
  ASSERT_TRUE(registry.WaitForRequest(20000));
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(1000)) << "still running 1 s after SIGTERM";
  EXPECT_EQ(run.Result().exitCode, 1);
  EXPECT_EQ(run.Result().err, "");
  EXPECT_EQ(folder.Customers(), Rows{"0123"});
}

// Line and paragraph separators and bidirectional controls in server text placed in the message
// cannot split or reorder the one line.
TEST(MachineFaults, UnicodeLineBreaksAndBidiControlsInServerTextBecomeQuestionMarks) {
  const ProgramFolder folder(KORVANE_BINARY);
  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(),
       TlsTestServer::Send(testing::JsonAnswer("{\"success\":\"Guasto\u2028Riga\u2029\u202Eoiggassem\u2066x\u2069\"}")),
       TlsTestServer::Close()});
  ExpectOneLineFailure(RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry)),
                       "'Guasto?Riga??oiggassem?x?' is not a valid boolean value");
}

// The archive through a relay in front of the database server.
std::string ThroughProxy(const testing::TcpProxy& proxy, const ProgramFolder& folder) {
  return "127.0.0.1/" + std::to_string(proxy.Port()) + ":" + folder.Archive();
}

// Whether the archive holds a committed customer with this VAT number, asked straight of the
// server on a connection of the test's own.
class CommittedCustomer {
 public:
  explicit CommittedCustomer(const std::string& archive) {
    database_.SetLoginPrompt(false);
    database_.SetParam("user_name", testing::kUserName);
    database_.SetParam("password", serverlogin::Password());
    database_.SetDatabaseName("localhost:" + archive);
    database_.Open();
  }

  bool Holds(const std::string& piva) {
    TIBTransaction transaction(&database_, TIBTransactionLevel::ibtrSnapshot);
    TIBQuery query;
    query.SetDatabase(&database_);
    query.SetTransaction(&transaction);
    query.AddLine("SELECT COUNT(*) FROM CLIENTI WHERE PI = '" + piva + "'");
    query.Open();
    return query.Fields(0).AsInteger() > 0;
  }

 private:
  TIBDatabase database_;
};

// The server commits the row and its answer never arrives: a new attachment finds the row, so
// the import succeeded and says so; the caller has no reason to pay for it again.
TEST(MachineFaults, ACommitWhoseAnswerIsLostIsConfirmedByLookingTheRowUp) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  testing::TcpProxy proxy;
  SetArchivio(folder, ThroughProxy(proxy, folder));
  CommittedCustomer committed(folder.Archive());
  proxy.LoseAnswerWhen([&] { return committed.Holds("01234567890"); });
  TlsTestServer registry = Registry();
  const ProgramResult result = RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  EXPECT_TRUE(proxy.AnswerLost());
  EXPECT_EQ(result.out, "0124\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"}));
}

// When no new attachment can be made the outcome is not known, and the line says so: not the
// failure a caller would retry.
TEST(MachineFaults, ALostCommitAnswerThatCannotBeCheckedIsReportedAsUnknown) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  testing::TcpProxy proxy;
  SetArchivio(folder, ThroughProxy(proxy, folder));
  CommittedCustomer committed(folder.Archive());
  proxy.LoseAnswerWhen([&] {
    if (!committed.Holds("01234567890")) return false;
    proxy.RefuseNewConnections();
    return true;
  });
  TlsTestServer registry = Registry();
  ExpectOneLineFailure(RunProgram(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry)),
                       "Esito della scrittura non verificabile (codice 0124)");
  EXPECT_TRUE(proxy.AnswerLost());
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"}));
}

// The archive's connection goes away while the registry takes its time (as when the server
// restarts): the run opens it again once and writes the answer it paid for.
TEST(MachineFaults, AConnectionLostWhileTheRegistryIsAskedIsOpenedAgainOnce) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  testing::TcpProxy proxy;
  SetArchivio(folder, ThroughProxy(proxy, folder));
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Pause(1000),
                          TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  ASSERT_TRUE(registry.WaitForRequest(20000));
  proxy.DropConnections();
  ASSERT_TRUE(run.Wait(30000));
  EXPECT_EQ(run.Result().out, "0124\r\n");
  EXPECT_EQ(run.Result().err, "");
  EXPECT_EQ(run.Result().exitCode, 0);
  EXPECT_EQ(proxy.Connections(), 2);
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"}));
}

// A company that checks for a stored VAT number: the check's lock goes with the lost connection,
// so the check is made again on the new one, and a subject stored meanwhile is the run's answer.
TEST(MachineFaults, AfterALostConnectionTheExistingSubjectCheckIsMadeAgain) {
  for (const bool storedMeanwhile : {false, true}) {
    const ProgramFolder folder(KORVANE_BINARY, true);
    testing::TcpProxy proxy;
    SetArchivio(folder, ThroughProxy(proxy, folder));
    const std::string served = "localhost:" + folder.Archive();
    testing::RunIsql(served, "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);\n");
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Pause(1000),
                            TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
    StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
    ASSERT_TRUE(registry.WaitForRequest(20000));
    proxy.DropConnections();
    if (storedMeanwhile) testing::RunIsql(served, "INSERT INTO CLIENTI (CODICE, PI) VALUES ('A9', 'IT01234567890');\n");
    ASSERT_TRUE(run.Wait(30000));
    EXPECT_EQ(run.Result().out, storedMeanwhile ? "A9\r\n" : "0124\r\n");
    EXPECT_EQ(run.Result().exitCode, 0);
    EXPECT_EQ(proxy.Connections(), 2);
    EXPECT_EQ(folder.Customers(), (storedMeanwhile ? Rows{"0123", "A9"} : Rows{"0123", "0124"}));
  }
}

// The archive's connection cut at any byte of a run, by a reset or by an orderly close, with and
// without a company check for the VAT number: the run ends by itself with one line, exit code 0
// and its row when the commit went through, else exit code 1 and no new row (or the line that
// says the write's outcome is not known), never a signal. The windows are sampled across the
// whole conversation, measured first on an uncut run.
TEST(MachineFaults, AConnectionCutAtAnyByteEndsTheRunWithOneLine) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  testing::TcpProxy proxy;
  SetArchivio(folder, ThroughProxy(proxy, folder));
  const std::string served = "localhost:" + folder.Archive();
  int number = 0;
  // A run for a VAT number of its own, so that the company's check never answers before the write.
  auto runOnce = [&](std::size_t cutAt, testing::TcpProxy::Cut how, bool cut) {
    const std::string piva = "0123456" + std::to_string(1000 + ++number);
    if (cut) proxy.CutNextConnectionAt(cutAt, how);
    TlsTestServer registry = Registry();
    const ProgramResult result =
        RunProgram(folder.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"},
                   folder.Environment(registry));
    const std::string where =
        "cut at byte " + std::to_string(cutAt) + (how == testing::TcpProxy::Cut::Reset ? " (reset)" : " (close)");
    EXPECT_EQ(result.signal, 0) << where;
    EXPECT_EQ(result.err, "") << where;
    EXPECT_TRUE(result.out.size() > 2 && result.out.ends_with("\r\n")) << where << ": " << result.out;
    const std::string line = result.out.substr(0, result.out.size() < 2 ? 0 : result.out.size() - 2);
    const Rows holders = testing::QueryColumn(folder.Archive(), "SELECT CODICE FROM CLIENTI WHERE PI = '" + piva + "'");
    if (result.exitCode == 0) {
      EXPECT_EQ(holders, Rows{line}) << where;
    } else {
      EXPECT_EQ(result.exitCode, 1) << where << ": " << result.out;
      if (!line.starts_with("Esito della scrittura non verificabile")) {
        EXPECT_EQ(holders, Rows{}) << where << ": " << line;
      }
    }
    return result;
  };
  for (const bool checked : {false, true}) {
    testing::RunIsql(served, checked ? "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);\n"
                                     : "DELETE FROM TABX;\n");
    // Measures the conversation of an uncut run (a new proxy counts from its first connection).
    testing::TcpProxy measuring;
    SetArchivio(folder, ThroughProxy(measuring, folder));
    const ProgramResult uncut = runOnce(0, testing::TcpProxy::Cut::Reset, false);
    ASSERT_EQ(uncut.exitCode, 0) << uncut.out;
    const std::size_t total = measuring.FirstConnectionBytes();
    SetArchivio(folder, ThroughProxy(proxy, folder));
    ASSERT_GT(total, 1000u);
    // About twenty windows each; the second set falls between the first one's.
    const std::size_t stride = total / 20;
    int window = 0;
    for (std::size_t at = checked ? stride / 2 : 0; at <= total; at += stride, ++window) {
      runOnce(at, window % 2 == 0 ? testing::TcpProxy::Cut::Reset : testing::TcpProxy::Cut::Close, true);
    }
  }
}

// The archive's server stops answering once the row is committed: the run's line is out before the
// run releases its objects (whose close now waits for that server), and a stop signal there ends
// the run at once with the exit code of its outcome.
TEST(MachineFaults, TheLineComesBeforeTheReleaseAndAStopSignalThenKeepsTheOutcome) {
  const ProgramFolder folder(KORVANE_BINARY, true);
  testing::TcpProxy proxy;
  SetArchivio(folder, ThroughProxy(proxy, folder));
  CommittedCustomer committed(folder.Archive());
  proxy.StallWhen([&] { return committed.Holds("01234567890"); });
  TlsTestServer registry = Registry();
  StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry));
  EXPECT_FALSE(run.Wait(2000));
  ASSERT_TRUE(proxy.Stalled());
  ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
  ASSERT_TRUE(run.Wait(1000)) << "still running 1 s after SIGTERM";
  EXPECT_EQ(run.Result().out, "0124\r\n");
  EXPECT_EQ(run.Result().err, "");
  EXPECT_EQ(run.Result().exitCode, 0);
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"}));
}

// After the commit, a standard output that takes nothing (a full pipe never read) holds the run a
// few seconds at the most, and a stop signal meanwhile ends it at once: exit code 0 either way, the
// row stored.
TEST(MachineFaults, AfterTheCommitAFullStdoutHoldsTheRunOnlyBriefly) {
  for (const bool stopped : {false, true}) {
    // Through the server, so that the test can look while the run holds its connection.
    const ProgramFolder folder(KORVANE_BINARY, true);
    TlsTestServer registry = Registry();
    const auto start = std::chrono::steady_clock::now();
    StartedProgram run(folder.Program(), ProgramFolder::Arguments(), folder.Environment(registry), {},
                       testing::StdoutTo::FullPipe);
    if (stopped) {
      // The row is committed while the run waits for standard output.
      ASSERT_FALSE(run.Wait(1500)) << "the line did not wait for the full pipe";
      ASSERT_EQ(testing::QueryColumn("localhost:" + folder.Archive(), "SELECT CODICE FROM CLIENTI ORDER BY 1"),
                (Rows{"0123", "0124"}));
      ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
      ASSERT_TRUE(run.Wait(1000)) << "still running 1 s after SIGTERM";
    } else {
      ASSERT_TRUE(run.Wait(20000));
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    EXPECT_EQ(run.Result().exitCode, 0) << stopped;
    EXPECT_EQ(run.Result().err, "") << stopped;
    EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124"})) << stopped;
  }
}

}  // namespace
}  // namespace korvane
