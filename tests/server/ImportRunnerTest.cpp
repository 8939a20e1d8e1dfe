#include "server/ImportRunner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace korvane::server {
namespace {

using namespace std::chrono_literals;

// Small programs that stand in for the importer, as shell scripts run without a shell between.
class ImportRunnerTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = dir_.File(name);
    std::ofstream(path) << "#!/bin/sh\n" << body;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }

  std::string FileText(const std::string& name) {
    std::ifstream file(dir_.File(name));
    return {std::istreambuf_iterator<char>(file), {}};
  }

  testing::TempDir dir_;
};

TEST_F(ImportRunnerTest, TheChildsExactOutputAndExitCode) {
  struct Case {
    std::string body;
    std::string output;
    int exitCode;
  };
  const Case cases[] = {
      {"printf '0124\\r\\n'", "0124\r\n", 0},
      {"printf 'Fallita scrittura su database\\rviolation\\r\\n'; exit 1",
       "Fallita scrittura su database\rviolation\r\n", 1},
      {"printf 'no line end'; exit 3", "no line end", 1},
      {"printf '\\303\\250\\r\\n'", "\xC3\xA8\r\n", 0},
      {"exit 0", "", 0},
  };
  for (const auto& c : cases) {
    const ImportRunner runner(Script("korvane", c.body + "\n"), {}, 10s);
    const ImportOutcome outcome = runner.Run({});
    EXPECT_EQ(outcome.output, c.output) << c.body;
    EXPECT_EQ(outcome.exitCode, c.exitCode) << c.body;
    EXPECT_FALSE(outcome.overTime);
  }
}

TEST_F(ImportRunnerTest, ArgumentsAndALongOutputArriveWhole) {
  const ImportRunner runner(Script("korvane",
                                   "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n"
                                   "head -c 300000 /dev/zero | tr '\\0' x\n"),
                            {}, 10s);
  const ImportOutcome outcome = runner.Run({"-UTENTE", "17", "a b", "*", "$HOME", "-PIVA"});
  EXPECT_EQ(outcome.output, "[-UTENTE][17][a b][*][$HOME][-PIVA]" + std::string(300000, 'x'));
}

// A clean start: only the environment given, standard input on /dev/null, no descriptor of the
// service, no signal blocked or ignored, a process group of its own.
TEST_F(ImportRunnerTest, TheChildStartsClean) {
  int leaked[2];
  ASSERT_EQ(::pipe(leaked), 0);  // inheritable, as a library's socket may be
  struct stat leakedPipe {};
  ASSERT_EQ(::fstat(leaked[0], &leakedPipe), 0);
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  const auto previousHandler = ::signal(SIGINT, SIG_IGN);

  // The signals are read by what the script becomes (exec): the state it was started with.
  const std::string script =
      "echo $$\n"
      "env > " +
      dir_.File("env") + "\n" + "ls -l /proc/$$/fd > " + dir_.File("fds") + "\n" + "cut -d' ' -f5 /proc/$$/stat > " +
      dir_.File("group") + "\n" + "exec grep -E '^(SigBlk|SigIgn)' /proc/self/status > " + dir_.File("signals") + "\n";
  const ImportRunner runner(Script("korvane", script), {"KORVANE_APITOKEN=segreto", "PATH=/usr/bin:/bin"}, 10s);
  const ImportOutcome outcome = runner.Run({});

  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::signal(SIGINT, previousHandler);
  ::close(leaked[0]);
  ::close(leaked[1]);

  std::string env = FileText("env");
  EXPECT_NE(env.find("KORVANE_APITOKEN=segreto\n"), std::string::npos) << env;
  EXPECT_EQ(env.find("HOME="), std::string::npos) << env;
  const std::string fds = FileText("fds");
  EXPECT_NE(fds.find(" 0 -> /dev/null"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("pipe:[" + std::to_string(leakedPipe.st_ino) + "]"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("socket:"), std::string::npos) << fds;
  // The C library's own signals (32 and 33) are its business: the standard ones are all free.
  const std::string signals = FileText("signals");
  const auto mask = [&](const std::string& name) {
    const std::size_t at = signals.find(name + ":\t");
    return at == std::string::npos ? ~0ULL : std::stoull(signals.substr(at + name.size() + 2, 16), nullptr, 16);
  };
  EXPECT_EQ(mask("SigBlk") & 0x7FFFFFFFULL, 0u) << signals;
  EXPECT_EQ(mask("SigIgn") & 0x7FFFFFFFULL, 0u) << signals;
  // Its process group is its own: the number of the shell itself.
  EXPECT_EQ(FileText("group"), outcome.output);
}

bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return stat >> pidText >> name >> state && state != "Z";
}

// Past the limit the whole process group goes, what it started too, and the answer says that the
// outcome is not known.
TEST_F(ImportRunnerTest, AChildPastTheLimitIsKilledWithItsGroup) {
  const ImportRunner runner(
      Script("korvane", "printf 'partial'\nsleep 30 &\necho $! > " + dir_.File("started") + "\nsleep 30\n"), {}, 500ms);
  const auto start = std::chrono::steady_clock::now();
  const ImportOutcome outcome = runner.Run({});
  // The limit (0.5 s) ends the wait, with room for a loaded machine; the child would take 30 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_TRUE(outcome.overTime);
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.output, "Esito dell'importazione non verificabile (interrotta dal servizio dopo 1 s)\r\n");
  EXPECT_EQ(OverTimeMessage(180s), "Esito dell'importazione non verificabile (interrotta dal servizio dopo 180 s)\r\n");
  const pid_t started = std::stoi(FileText("started"));
  for (int i = 0; i < 500 && Running(started); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(Running(started));
}

TEST_F(ImportRunnerTest, AChildEndedByASignal) {
  const ImportOutcome silent = ImportRunner(Script("korvane", "kill -KILL $$\n"), {}, 10s).Run({});
  EXPECT_EQ(silent.exitCode, 1);
  EXPECT_EQ(silent.output, "Esito dell'importazione non verificabile (terminata dal segnale 9)\r\n");
  const ImportOutcome spoke = ImportRunner(Script("korvane", "printf '0124\\r\\n'; kill -KILL $$\n"), {}, 10s).Run({});
  EXPECT_EQ(spoke.exitCode, 1);
  EXPECT_EQ(spoke.output, "0124\r\n");
}

TEST_F(ImportRunnerTest, AProgramThatCannotStart) {
  EXPECT_THROW(ImportRunner(dir_.File("missing"), {}, 10s).Run({}), Exception);
}

}  // namespace
}  // namespace korvane::server
