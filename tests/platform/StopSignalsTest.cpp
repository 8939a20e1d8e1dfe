#include "platform/StopSignals.h"

#include <gtest/gtest.h>

namespace korvane::platform {
namespace {

// A stop signal wins only before the commit is sent and before the run writes its line; after
// that the run ends by itself.
TEST(RunGate, AStopSignalWinsOnlyWhileTheRunIsRunning) {
  RunGate running;
  EXPECT_TRUE(running.TryInterrupt());
  EXPECT_FALSE(running.TryInterrupt());

  RunGate committing;
  committing.EnterCommit();
  EXPECT_FALSE(committing.TryInterrupt());
  committing.EnterFinish();  // the commit's outcome is printed
  EXPECT_FALSE(committing.TryInterrupt());

  RunGate finishing;
  finishing.EnterFinish();
  finishing.EnterCommit();  // no way back from writing the line
  EXPECT_FALSE(finishing.TryInterrupt());
}

}  // namespace
}  // namespace korvane::platform
