// The files that runs on one machine share: the ledger's line file under its lock, and the turns
// of runs that must not overlap. Other processes are real ones (fork), as runs are.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Exception.h"
#include "platform/MachineTurn.h"
#include "platform/SharedLineFile.h"
#include "support/TempDir.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Backwards(const SharedLineFile& file, std::size_t most = 1000000) {
  std::vector<std::string> lines;
  file.ReadLinesBackwards([&](std::string_view line) {
    lines.emplace_back(line);
    return lines.size() < most;
  });
  return lines;
}

// Runs `child` in `count` processes at once and waits for them all; true when each exited 0.
bool InProcesses(int count, const std::function<bool(int)>& child) {
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(child(i) ? 0 : 1);
    pids.push_back(pid);
  }
  bool all = true;
  for (const pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    all = all && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return all;
}

TEST(SharedLineFile, LinesAreReadFromTheLastBackwardsAcrossBlocks) {
  testing::TempDir dir;
  const std::string path = dir.File("ledger");
  SharedLineFile file(path);
  EXPECT_TRUE(file.Empty());
  EXPECT_TRUE(Backwards(file).empty());
  // Lines of every length around the block size, so that lines cross the blocks' edges.
  std::vector<std::string> written;
  std::string all;
  for (int i = 0; i < 300; ++i) {
    written.push_back(std::to_string(i) + std::string(static_cast<std::size_t>(i * 37 % 1500), 'x'));
    all += written.back() + "\n";
  }
  written.push_back(std::string(70000, 'y'));  // longer than a block
  all += written.back() + "\n";
  {
    const auto lock = file.Lock(1s);
    file.Append(all);
  }
  EXPECT_FALSE(file.Empty());
  EXPECT_EQ(ReadAll(path), all);
  const std::vector<std::string> back = Backwards(file);
  EXPECT_EQ(std::vector<std::string>(back.rbegin(), back.rend()), written);
  EXPECT_EQ(Backwards(file, 2), (std::vector<std::string>{written[300], written[299]}));

  // A tail without its line end is no line yet; read forwards, lines cross the blocks' edges too.
  const off_t whole = file.Append("\nlast, unended");
  EXPECT_EQ(whole, static_cast<off_t>(all.size() + 14));
  EXPECT_EQ(file.WholeLinesEnd(), static_cast<off_t>(all.size() + 1));
  EXPECT_EQ(Backwards(file, 2), (std::vector<std::string>{"", written[300]}));
  std::vector<std::string> forwards;
  file.ReadLines(0, file.WholeLinesEnd(), [&](std::string_view line) { forwards.emplace_back(line); });
  written.push_back("");
  EXPECT_EQ(forwards, written);
  EXPECT_TRUE(file.LineStartsAt(static_cast<off_t>(all.size())));
  EXPECT_FALSE(file.LineStartsAt(static_cast<off_t>(all.size()) - 1));
  EXPECT_FALSE(file.LineStartsAt(whole + 1));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Lines are whole or absent: a torn tail (a crash, a full disk) is cut before the next append,
// and an append that cannot be written whole leaves nothing of itself.
TEST(SharedLineFile, ATornTailIsCutAndAFailedAppendLeavesNothing) {
  testing::TempDir dir;
  const std::string path = dir.File("ledger");
  {
    SharedLineFile file(path);
    file.Append("first\n");
  }
  std::ofstream(path, std::ios::app | std::ios::binary) << "torn, no line en";
  SharedLineFile file(path);
  file.Append("second\n");
  EXPECT_EQ(ReadAll(path), "first\nsecond\n");

  // A small filesystem of its own, filled up to a few bytes.
  const std::string small = dir.File("small");
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "no tmpfs mount here";
  {
    SharedLineFile full(small + "/ledger");
    full.Append("kept\n");
    std::ofstream(small + "/filler", std::ios::binary) << std::string(64 * 1024, 'f');
    EXPECT_THROW(full.Append(std::string(20000, 'x') + "\n"), Exception);
    EXPECT_EQ(ReadAll(small + "/ledger"), "kept\n");
  }
  ::umount(small.c_str());
}

TEST(SharedLineFile, OnlyTheUsersOwnRegularFile) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  std::ofstream(dir.File("target")) << "x\n";
  std::filesystem::create_symlink(dir.File("target"), dir.File("link"));
  ASSERT_EQ(::link(dir.File("target").c_str(), dir.File("second name").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"folder", "not a regular file"},
      {"link", "symbolic link"},
      {"second name", "more than one hard link"},
      {"fifo", "not a regular file"},
      {"missing/ledger", "No such file or directory"},
  };
  for (const auto& [name, reason] : cases) {
    std::string raised;
    try {
      SharedLineFile file(dir.File(name));
    } catch (const Exception& error) {
      raised = error.Message();
    }
    EXPECT_EQ(raised, reason) << name;
  }
}

TEST(SharedLineFile, TheLockIsOneProcessAtATimeAndItsWaitIsBounded) {
  testing::TempDir dir;
  const std::string path = dir.File("ledger");
  SharedLineFile(path).Append("");
  // Each process appends its number twice, holding the lock: the pairs never mix.
  ASSERT_TRUE(InProcesses(12, [&](int i) {
    SharedLineFile file(path);
    const auto lock = file.Lock(10s);
    file.Append(std::to_string(i) + "\n");
    std::this_thread::sleep_for(2ms);
    file.Append(std::to_string(i) + "\n");
    return true;
  }));
  std::istringstream lines(ReadAll(path));
  std::string first, second;
  int pairs = 0;
  while (std::getline(lines, first) && std::getline(lines, second)) {
    EXPECT_EQ(first, second);
    ++pairs;
  }
  EXPECT_EQ(pairs, 12);

  SharedLineFile holder(path);
  const auto held = holder.Lock(1s);
  std::string raised;
  try {
    SharedLineFile(path).Lock(100ms);
  } catch (const Exception& error) {
    raised = error.Message();
  }
  EXPECT_EQ(raised, "locked by another process for more than 100 ms");
}

TEST(MachineTurn, ProcessesForOneKeyTakeTurnsAndTheFileGoes) {
  testing::TempDir dir;
  const std::string folder = dir.File("turns");
  const std::string log = dir.File("log");
  SharedLineFile(log).Append("");
  // Each process writes "in" and "out" while it holds the turn: with turns, every "in" is followed
  // by its own "out". Half of them leave without releasing anything: the system does it.
  ASSERT_TRUE(InProcesses(16, [&](int i) {
    MachineTurn turn("archive|CLIENTI|01234567890", 20s, folder);
    if (turn.GetState() != MachineTurn::State::Taken) return false;
    SharedLineFile file(log);
    file.Append("in " + std::to_string(i) + "\n");
    std::this_thread::sleep_for(3ms);
    file.Append("out " + std::to_string(i) + "\n");
    if (i % 2 == 0) ::_exit(0);
    return true;
  }));
  std::istringstream lines(ReadAll(log));
  std::string in, out;
  int turns = 0;
  while (std::getline(lines, in) && std::getline(lines, out)) {
    EXPECT_EQ("out" + in.substr(2), out);
    ++turns;
  }
  EXPECT_EQ(turns, 16);
  struct stat info {};
  ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // What the processes that ended by themselves left, the next holder removes.
  { MachineTurn turn("archive|CLIENTI|01234567890", 1s, folder); }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(MachineTurn, AnotherKeyDoesNotWaitAndABusyTurnEndsTheWait) {
  testing::TempDir dir;
  const std::string folder = dir.File("turns");
  MachineTurn held("a", 1s, folder);
  ASSERT_EQ(held.GetState(), MachineTurn::State::Taken);
  EXPECT_EQ(MachineTurn("b", 0ms, folder).GetState(), MachineTurn::State::Taken);
  // Another process: a lock of this one's is not seen as its own.
  ASSERT_TRUE(InProcesses(1, [&](int) {
    const auto start = std::chrono::steady_clock::now();
    const MachineTurn waiting("a", 200ms, folder);
    return waiting.GetState() == MachineTurn::State::Busy && std::chrono::steady_clock::now() - start >= 200ms &&
           waiting.Reason() == held.Path() + ": held by another process";
  }));
}

TEST(MachineTurn, AFolderOthersMayWriteIntoIsNotUsed) {
  testing::TempDir dir;
  const std::string open = dir.File("open");
  ::mkdir(open.c_str(), 0777);
  ::chmod(open.c_str(), 0777);
  std::ofstream(dir.File("file")) << "x";
  std::filesystem::create_directory_symlink(open, dir.File("link"));
  const std::pair<std::string, std::string> cases[] = {
      {open, open + ": open to other users"},
      {dir.File("file"), dir.File("file") + ": not a folder"},
      {dir.File("link"), dir.File("link") + ": not a folder"},
      {dir.File("missing/turns"), dir.File("missing/turns") + ": No such file or directory"},
  };
  for (const auto& [folder, reason] : cases) {
    const MachineTurn turn("a", 0ms, folder);
    EXPECT_EQ(turn.GetState(), MachineTurn::State::Unavailable) << folder;
    EXPECT_EQ(turn.Reason(), reason) << folder;
  }
  EXPECT_TRUE(std::filesystem::is_empty(open));
}

}  // namespace
}  // namespace korvane::platform
