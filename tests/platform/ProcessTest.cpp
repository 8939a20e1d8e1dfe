#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "support/TempDir.h"
#include "support/TimeMargin.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;

// Standard output on another descriptor for the life of the object.
class StdoutOn {
 public:
  explicit StdoutOn(int fd) : saved_(::dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    ::dup2(fd, STDOUT_FILENO);
  }
  ~StdoutOn() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  StdoutOn(const StdoutOn&) = delete;
  StdoutOn& operator=(const StdoutOn&) = delete;

 private:
  int saved_;
};

// Everything the pipe's read end holds now or gets within `wait`.
std::string Drain(int fd, std::chrono::milliseconds wait) {
  std::string bytes;
  pollfd in{fd, POLLIN, 0};
  char buffer[65536];
  while (::poll(&in, 1, static_cast<int>(wait.count())) == 1) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

TEST(WriteStdoutLineWithin, AFullPipeHoldsTheCallerOnlyUntilTheLimit) {
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'x');
  while (::write(pipeFds[1], filler.data(), filler.size()) > 0) {
  }
  ::fcntl(pipeFds[1], F_SETFL, 0);  // as a caller's pipe is: blocking

  bool written = true;
  const auto start = std::chrono::steady_clock::now();
  {
    const StdoutOn redirected(pipeFds[1]);
    written = WriteStdoutLineWithin("Operazione interrotta (SIGTERM)", 300ms);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(written);
  // The caller is held the limit, and not until the reader reads.
  EXPECT_GE(elapsed, 300ms);
  EXPECT_LT(elapsed, 300ms + testing::kLoadedMachineMargin);

  // The write left behind completes once the reader reads: the line comes whole, after the rest.
  const std::string bytes = Drain(pipeFds[0], 1000ms);
  EXPECT_TRUE(
      bytes.ends_with("x"
                      "Operazione interrotta (SIGTERM)\r\n"))
      << bytes.substr(bytes.size() - 40);

  {
    const StdoutOn redirected(pipeFds[1]);
    EXPECT_TRUE(WriteStdoutLineWithin("ok", 300ms));
  }
  EXPECT_EQ(Drain(pipeFds[0], 100ms), "ok\r\n");
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST(NotOpenableFileReason, RegularOrMissingPassAnythingElseIsNamed) {
  testing::TempDir dir;
  const std::string regular = dir.File("regular");
  std::FILE* file = std::fopen(regular.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  std::filesystem::create_symlink(regular, dir.File("link"));
  std::filesystem::create_symlink(dir.File("loop"), dir.File("loop"));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);

  EXPECT_EQ(NotOpenableFileReason(regular), "");
  EXPECT_EQ(NotOpenableFileReason(dir.File("link")), "");  // a link is followed
  EXPECT_EQ(NotOpenableFileReason(dir.File("missing")), "");
  EXPECT_EQ(NotOpenableFileReason(dir.File("loop")), "Too many levels of symbolic links");
  EXPECT_EQ(NotOpenableFileReason(dir.File("fifo")), "not a regular file");
  EXPECT_EQ(NotOpenableFileReason(dir.Path().string()), "not a regular file");
  EXPECT_EQ(NotOpenableFileReason("/dev/null"), "not a regular file");
}

TEST(FreeSpace, AMissingPathIsAskedOfTheFolderThatWouldHoldIt) {
  testing::TempDir dir;
  const auto here = FreeSpace(dir.Path().string());
  ASSERT_TRUE(here.has_value());
  EXPECT_GT(*here, 0u);
  const auto below = FreeSpace(dir.File("not/yet/there"));
  ASSERT_TRUE(below.has_value());
  EXPECT_GT(*below, 0u);
}

}  // namespace
}  // namespace korvane::platform
