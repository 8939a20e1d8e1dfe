#include "server/ImportQueue.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace korvane::server {
namespace {

using namespace std::chrono_literals;

// Waits for the queue to reach the counts; false after a generous bound.
bool WaitFor(const ImportQueue& queue, std::size_t running, std::size_t waiting) {
  for (int i = 0; i < 5000; ++i) {
    const auto counts = queue.Now();
    if (counts.running == running && counts.waiting == waiting) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

TEST(ImportQueue, AtMostNRunAndTheRestWaitInTurn) {
  ImportQueue queue(2, 2, 10s);
  auto first = std::make_unique<ImportQueue::Place>(queue.Enter());
  auto second = std::make_unique<ImportQueue::Place>(queue.Enter());
  ASSERT_TRUE(*first && *second);

  auto third = std::async(std::launch::async, [&] { return std::make_unique<ImportQueue::Place>(queue.Enter()); });
  ASSERT_TRUE(WaitFor(queue, 2, 1));
  auto fourth = std::async(std::launch::async, [&] { return std::make_unique<ImportQueue::Place>(queue.Enter()); });
  ASSERT_TRUE(WaitFor(queue, 2, 2));
  // The queue is full: no wait at all.
  EXPECT_FALSE(queue.Enter());

  first.reset();
  auto thirdPlace = third.get();
  EXPECT_TRUE(*thirdPlace);
  // The fourth came later: it still waits.
  EXPECT_TRUE(WaitFor(queue, 2, 1));
  second.reset();
  EXPECT_TRUE(*fourth.get());
  EXPECT_TRUE(WaitFor(queue, 1, 0));
}

TEST(ImportQueue, AWaitHasItsBound) {
  ImportQueue queue(1, 4, 200ms);
  const auto running = queue.Enter();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.Enter());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_TRUE(WaitFor(queue, 1, 0));
}

TEST(ImportQueue, ClosingSendsTheWaitingAway) {
  ImportQueue queue(1, 4, 60s);
  const auto running = queue.Enter();
  auto waiting = std::async(std::launch::async, [&] { return static_cast<bool>(queue.Enter()); });
  ASSERT_TRUE(WaitFor(queue, 1, 1));
  queue.Close();
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(queue.Enter());
  // The running import keeps its place until it ends.
  EXPECT_EQ(queue.Now().running, 1u);
}

TEST(ImportQueue, NoQueueAtAll) {
  ImportQueue queue(1, 0, 60s);
  const auto running = queue.Enter();
  EXPECT_TRUE(running);
  EXPECT_FALSE(queue.Enter());
}

}  // namespace
}  // namespace korvane::server
