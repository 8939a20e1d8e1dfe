// A database connection that goes silent (a relay that stops passing anything on and keeps its
// sockets open, as a dropped VPN or a pulled cable leaves it) at each step of a run: every run
// ends within its bound (KORVANE_DB_TIMEOUT, here 2 s: a call is cancelled at the bound, its
// connection closed on this side a second later), with one message.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TcpProxy.h"
#include "support/TempDir.h"
#include "support/TimeMargin.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing::ProgramFolder;
using testing::ProgramFolderOptions;
using testing::TcpProxy;
using testing::TlsTestServer;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The milliseconds of the trace's first line holding `text`, -1 without one.
long long TraceTime(const std::string& trace, const std::string& text) {
  const std::size_t at = trace.find(text);
  if (at == std::string::npos) return -1;
  const std::size_t start = trace.rfind('\n', at);
  return std::stoll(trace.substr(start == std::string::npos ? 0 : start + 1));
}

// A program folder whose users database and archive are reached through the local server by a
// relay each: the users database by its dati.ini, the archive by "Archivio".
class SilentDatabase {
 public:
  SilentDatabase() : folder_(KORVANE_BINARY, ProgramFolderOptions{.throughServer = true, .usersThroughServer = true}) {
    std::ofstream(std::filesystem::path(folder_.Program()).parent_path() / "user/dati.ini", std::ios::binary)
        << "[CONFIG]\r\nPercorsoDatabase=127.0.0.1/" << users_.Port() << ":" << folder_.Users() << "\r\n";
    testing::RunIsql(folder_.Users(), "UPDATE TABSOFTDES SET VALORE = '127.0.0.1/" + std::to_string(archive_.Port()) +
                                          ":" + folder_.Archive() + "' WHERE PARAMETRO = 'Archivio';\n");
  }

  // The relay of `database` ("users" or "archive") goes silent from the first piece the program
  // sends once its trace holds `step`; with `refuseLater`, it refuses every connection after that.
  void SilenceAt(const std::string& database, const std::string& step, bool refuseLater) {
    TcpProxy& relay = database == "users" ? users_ : archive_;
    relay.StallWhen([&relay, trace = trace_, step, refuseLater] {
      if (ReadFile(trace).find(step) == std::string::npos) return false;
      if (refuseLater) relay.RefuseNewConnections();
      return true;
    });
  }

  // The relay of `database` goes silent from the `piece`-th piece the program sends it (from 1),
  // or, with 0, only counts them (Pieces()).
  void SilenceFromPiece(const std::string& database, int piece) {
    TcpProxy& relay = database == "users" ? users_ : archive_;
    *pieces_ = 0;
    relay.StallWhen([pieces = pieces_, piece] { return ++*pieces == piece; });
  }
  int Pieces() const { return *pieces_; }

  // Ready for another run: the silent connections closed (the server then ends what they held),
  // a row the run may have written removed (unless `nothingWritten`), the trace emptied.
  void Reset(bool nothingWritten) {
    users_.DropConnections();
    archive_.DropConnections();
    if (!nothingWritten) {
      testing::RunIsql("localhost:" + folder_.Archive(), "DELETE FROM CLIENTI WHERE CODICE <> '0123';\n");
    }
    std::filesystem::remove(trace_);
  }

  std::map<std::string, std::string> Environment(const TlsTestServer& registry) const {
    auto environment = folder_.Environment(registry);
    environment["KORVANE_DB_TIMEOUT"] = timeout_;
    environment["KORVANE_TRACE"] = trace_;
    return environment;
  }
  std::string Trace() const { return ReadFile(trace_); }
  const ProgramFolder& Folder() const { return folder_; }
  void SetTimeout(std::string seconds) { timeout_ = std::move(seconds); }

 private:
  ProgramFolder folder_;
  std::string timeout_ = "2";
  std::shared_ptr<std::atomic<int>> pieces_ = std::make_shared<std::atomic<int>>(0);
  TcpProxy users_;
  TcpProxy archive_;
  testing::TempDir dir_;
  std::string trace_ = dir_.File("trace.txt");
};

TEST(SilentDatabase, EachStepEndsWithinItsBound) {
  struct Case {
    const char* name;
    const char* database;
    const char* step;   // the trace's line after which the relay goes silent
    bool refuseLookUp;  // the archive's relay refuses the look-up's new connection
    std::string out;
    int exitCode;
    milliseconds bound;  // from the start of the run to its end, beyond the time it needs
    bool written;
  };
  const std::string unanswered = "Il database non risponde (";
  const std::vector<Case> cases{
      {"users database", "users", "opening the users database", false, unanswered + "apertura del database utenti)\r\n",
       1, milliseconds(2000), false},
      {"users database read", "users", "users database opened", false, unanswered + "lettura del database utenti)\r\n",
       1, milliseconds(3000), false},
      {"archive reads", "archive", "archive opened", false, unanswered + "lettura dell'archivio)\r\n", 1,
       milliseconds(3000), false},
      {"before the request", "archive", "code computed", false, unanswered + "lettura dell'archivio)\r\n", 1,
       milliseconds(3000), false},
      {"the insert", "archive", "insert into", false, unanswered + "scrittura del soggetto)\r\n", 1, milliseconds(3000),
       false},
      {"the commit, looked up", "archive", "commit sent", false,
       "Fallita scrittura su database\r" + unanswered + "scrittura del soggetto)\r\n", 1, milliseconds(3000), false},
      {"the commit, no look-up", "archive", "commit sent", true,
       "Esito della scrittura non verificabile (codice 0124)\r\n", 1, milliseconds(3000), false},
      {"after the line", "archive", "line printed", false, "0124\r\n", 0, milliseconds(3000), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SilentDatabase run;
    run.SilenceAt(c.database, c.step, c.refuseLookUp);
    TlsTestServer registry(
        {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
    const auto start = Clock::now();
    const auto result =
        testing::RunProgram(run.Folder().Program(), ProgramFolder::Arguments(), run.Environment(registry));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    const std::string trace = run.Trace();
    EXPECT_EQ(result.out, c.out) << trace;
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.err, "");
    // From the step on which the relay went silent to the end of the process.
    const long long silentAt = TraceTime(trace, c.step);
    ASSERT_GE(silentAt, 0) << trace;
    const milliseconds fromSilence = took - milliseconds(silentAt);
    std::printf("[ bound    ] %s: %lld ms from the silence to the end\n", c.name,
                static_cast<long long>(fromSilence.count()));
    // The run's promise: a database that goes silent ends the run within the bound.
    EXPECT_LE(fromSilence, c.bound + testing::kLoadedMachineMargin) << trace;
    EXPECT_EQ(run.Folder().Customers().size(), c.written ? 2u : 1u);
  }
}

// A stop signal during a commit that does not answer waits for the answer as long as a database
// call may (2 s), then ends the run with the line of an unknown outcome.
TEST(SilentDatabase, AStopDuringASilentCommitEndsWithinTheBound) {
  SilentDatabase run;
  run.SilenceAt("archive", "commit sent", true);
  TlsTestServer registry(
      {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
  testing::StartedProgram program(run.Folder().Program(), ProgramFolder::Arguments(), run.Environment(registry));
  const auto waitUntil = Clock::now() + std::chrono::seconds(30);
  while (run.Trace().find("commit sent") == std::string::npos && Clock::now() < waitUntil) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  ASSERT_NE(run.Trace().find("commit sent"), std::string::npos);
  const auto signalled = Clock::now();
  ::kill(program.Pid(), SIGTERM);
  ASSERT_TRUE(program.Wait(10000));
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - signalled);
  std::printf("[ bound    ] stop during the commit: %lld ms from the signal to the end\n",
              static_cast<long long>(took.count()));
  EXPECT_EQ(program.Result().out, "Esito della scrittura non verificabile (codice 0124)\r\n");
  EXPECT_EQ(program.Result().exitCode, 1);
  EXPECT_LE(took, milliseconds(2000) + testing::kLoadedMachineMargin);
  EXPECT_EQ(run.Folder().Customers().size(), 1u);
}

// The messages of a call given up before the commit, one for each step a run documents.
const std::string kUnanswered = "Il database non risponde (";
const std::set<std::string> kStepMessages{
    kUnanswered + "apertura del database utenti)", kUnanswered + "lettura del database utenti)",
    kUnanswered + "apertura dell'archivio)",       kUnanswered + "lettura dell'archivio)",
    kUnanswered + "scrittura del soggetto)",
};

// Runs the program in a few folders at once (each used again and again: most of a run is the wait
// for its bound), the company's settings making it read the most (the look before paying, the
// lock under the write), silencing each database from each piece the program sends it in turn:
// a run that nothing silences first tells how many pieces there are. `check` is given every run's
// result and says whether the run may have written a row.
void SweepSilence(const std::function<testing::ProgramResult(SilentDatabase&)>& run,
                  const std::function<bool(const testing::ProgramResult&, const std::string& where)>& check) {
  constexpr int kAtOnce = 6;
  std::vector<std::unique_ptr<SilentDatabase>> folders;
  for (int i = 0; i < kAtOnce; ++i) {
    folders.push_back(std::make_unique<SilentDatabase>());
    testing::RunIsql(folders.back()->Folder().Archive(),
                     "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);\n");
    folders.back()->SetTimeout("1");
  }
  for (const std::string database : {"users", "archive"}) {
    folders[0]->SilenceFromPiece(database, 0);
    const testing::ProgramResult whole = run(*folders[0]);
    ASSERT_EQ(whole.exitCode, 0) << whole.out;
    folders[0]->Reset(!check(whole, database + ", not silent"));
    const int pieces = folders[0]->Pieces();
    ASSERT_GT(pieces, 3) << database;
    for (int first = 1; first <= pieces; first += kAtOnce) {
      const int count = std::min(kAtOnce, pieces - first + 1);
      std::vector<std::future<testing::ProgramResult>> results;
      for (int i = 0; i < count; ++i) {
        folders[i]->SilenceFromPiece(database, first + i);
        results.push_back(std::async(std::launch::async, run, std::ref(*folders[i])));
      }
      for (int i = 0; i < count; ++i) {
        const testing::ProgramResult result = results[i].get();
        const std::string where = database + ", silent from piece " + std::to_string(first + i);
        folders[i]->Reset(!check(result, where + "\n" + folders[i]->Trace()));
      }
    }
  }
}

// An import: every run ends with one of the documented lines, each naming a step of the run,
// never the engine's own words nor an internal call's name.
TEST(SilentDatabase, SilenceAnywhereEndsWithADocumentedLine) {
  std::set<std::string> documented{
      "Fallita scrittura su database\r" + kUnanswered + "scrittura del soggetto)\r\n",
      "Esito della scrittura non verificabile (codice 0124)\r\n",
      "0124\r\n",  // silent only once the line was printed
  };
  for (const std::string& message : kStepMessages) documented.insert(message + "\r\n");
  SweepSilence(
      [](SilentDatabase& run) {
        TlsTestServer registry(
            {TlsTestServer::ExpectRequest(), TlsTestServer::Send(testing::CompleteAnswer()), TlsTestServer::Close()});
        return testing::RunProgram(run.Folder().Program(), ProgramFolder::Arguments(), run.Environment(registry));
      },
      [&](const testing::ProgramResult& result, const std::string& where) {
        EXPECT_TRUE(documented.contains(result.out)) << where << ": " << result.out;
        EXPECT_EQ(result.exitCode, result.out == "0124\r\n" ? 0 : 1) << where;
        EXPECT_EQ(result.err, "") << where;
        return result.out == "0124\r\n" || result.out.starts_with("Esito");
      });
}

// The free check reads both databases as a run does: every check that silence fails says so with
// the message of a documented step.
TEST(SilentDatabase, TheFreeCheckNamesTheStepsAsARunDoes) {
  SweepSilence(
      [](SilentDatabase& run) {
        TlsTestServer registry({TlsTestServer::ExpectRequest()});
        auto environment = run.Environment(registry);
        environment["KORVANE_APITOKEN"] = "segreto";
        return testing::RunProgram(run.Folder().Program(),
                                   {"--controlla", "-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"},
                                   environment);
      },
      [](const testing::ProgramResult& result, const std::string& where) {
        std::istringstream lines(result.out);
        bool failed = false;
        for (std::string line; std::getline(lines, line);) {
          if (line.starts_with("OK ")) continue;
          failed = true;
          const std::size_t message = line.find(": ");
          EXPECT_TRUE(line.starts_with("ERRORE ") && message != std::string::npos &&
                      kStepMessages.contains(line.substr(message + 2)))
              << where << ": " << line;
        }
        EXPECT_EQ(result.exitCode, failed ? 1 : 0) << where;
        EXPECT_EQ(result.err, "") << where;
        return false;
      });
}

// The bound is a whole number of seconds from 1 to 3600; anything else is refused before any work.
TEST(SilentDatabase, AnUnusableTimeoutIsRefused) {
  const ProgramFolder folder(KORVANE_BINARY, false);
  for (const char* value : {"0", "abc", "3601", "-5", "1.5"}) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Close()});
    auto environment = folder.Environment(registry);
    environment["KORVANE_DB_TIMEOUT"] = value;
    const auto result = testing::RunProgram(folder.Program(), ProgramFolder::Arguments(), environment);
    EXPECT_EQ(result.out, "Tempo di attesa del database non valido (KORVANE_DB_TIMEOUT)\r\n") << value;
    EXPECT_EQ(result.exitCode, 1);
  }
}

}  // namespace
}  // namespace korvane
