#include "tovik/platform/main_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tovik/platform/timer.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

TEST(MainQueueTest, RunsPostedWorkInOrderOnTheMainThread) {
  std::vector<int> order;
  bool allOnMain = true;
  for (int i = 0; i < 5; ++i) {
    queue().async([&, i] {
      order.push_back(i);
      allOnMain = allOnMain && queue().isMainThread();
    });
  }
  ASSERT_TRUE(queue().runUntil([&] { return order.size() == 5; }, 10s));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(allOnMain);
}

TEST(MainQueueTest, WorkPostedFromAnotherThreadRunsOnTheMainThreadInOrder) {
  std::vector<int> order;
  bool allOnMain = true;
  std::atomic<bool> posterIsMain{true};
  std::thread poster([&] {
    posterIsMain = queue().isMainThread();
    for (int i = 0; i < 100; ++i) {
      queue().async([&, i] {
        order.push_back(i);
        allOnMain = allOnMain && queue().isMainThread();
      });
    }
  });
  ASSERT_TRUE(queue().runUntil([&] { return order.size() == 100; }, 10s));
  poster.join();
  EXPECT_FALSE(posterIsMain);
  EXPECT_TRUE(allOnMain);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(MainQueueTest, RunUntilStopsRightAfterTheHandlerThatSatisfiesIt) {
  bool done = false;
  bool later = false;
  queue().async([&] { done = true; });
  queue().async([&] { later = true; });
  ASSERT_TRUE(queue().runUntil([&] { return done; }, 10s));
  EXPECT_FALSE(later);
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_TRUE(later);
}

TEST(MainQueueTest, RunUntilNoticesAPredicateMadeTrueByAnotherThread) {
  std::atomic<bool> flag{false};
  std::thread setter([&] { flag = true; });
  EXPECT_TRUE(queue().runUntil([&] { return flag.load(); }, 10s));
  setter.join();
}

TEST(MainQueueTest, RunUntilReportsATimeOut) {
  EXPECT_FALSE(queue().runUntil([] { return false; }, 20ms));
}

TEST(MainQueueTest, PollRunsReadyWorkWithoutWaitingForTimers) {
  int ran = 0;
  auto distant = Timer::scheduledTimer(3600.0, false, [&](Timer&) { ran += 100; });
  queue().async([&] { ++ran; });
  queue().async([&] { ++ran; });
  EXPECT_EQ(queue().poll(), 2u);
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(queue().poll(), 0u);
  distant->invalidate();
  queue().poll();  // lets the cancelled wait finish
}

TEST(MainQueueTest, RunsAgainAfterStop) {
  queue().async([] { queue().stop(); });
  queue().run();  // returns because of the stop above
  bool ran = false;
  queue().async([&] { ran = true; });
  EXPECT_TRUE(queue().runUntil([&] { return ran; }, 10s));

  queue().stop();  // a stop while nothing runs does not block later runs either
  ran = false;
  queue().async([&] { ran = true; });
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_TRUE(ran);
}

TEST(MainQueueTest, StopEndsRunUntil) {
  queue().async([] { queue().stop(); });
  EXPECT_FALSE(queue().runUntil([] { return false; }, 10s));
}

}  // namespace
}  // namespace tovik
