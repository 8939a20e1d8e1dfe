#include "platform/StopSignals.h"

#include <gtest/gtest.h>

namespace korvane::platform {
namespace {

// A stop signal wins only before the commit is sent and before the run writes its line; after
// that the run ends by itself, and once it is finishing with the exit code it settled.
TEST(RunGate, AStopSignalWinsOnlyWhileTheRunIsRunning) {
  RunGate running;
  EXPECT_EQ(running.SettledExitCode(), std::nullopt);
  EXPECT_TRUE(running.TryInterrupt());
  EXPECT_FALSE(running.TryInterrupt());
  EXPECT_EQ(running.SettledExitCode(), std::nullopt);

  RunGate committing;
  committing.EnterCommit();
  EXPECT_FALSE(committing.TryInterrupt());
  EXPECT_EQ(committing.SettledExitCode(), std::nullopt);  // the commit's outcome is awaited
  committing.EnterFinish(0);                              // the commit's outcome is printed
  EXPECT_FALSE(committing.TryInterrupt());
  EXPECT_EQ(committing.SettledExitCode(), 0);

  RunGate finishing;
  finishing.EnterFinish(1);
  finishing.EnterCommit();  // no way back from writing the line
  EXPECT_FALSE(finishing.TryInterrupt());
  EXPECT_EQ(finishing.SettledExitCode(), 1);
}

}  // namespace
}  // namespace korvane::platform
