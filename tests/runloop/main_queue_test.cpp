#include "tovik/runloop/main_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tovik/runloop/timer.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

TEST(MainQueueTest, WorkFromAnyThreadRunsLaterOnTheMainThreadInOrder) {
  std::vector<int> order;
  bool allOnMain = true;
  const auto post = [&](int i) {
    queue().async([&, i] {
      order.push_back(i);
      allOnMain = allOnMain && queue().isMainThread();
    });
  };
  for (int i = 0; i < 5; ++i) post(i);
  EXPECT_TRUE(order.empty());
  std::atomic<bool> posterIsMain{true};
  std::thread poster([&] {
    posterIsMain = queue().isMainThread();
    for (int i = 5; i < 100; ++i) post(i);
  });
  ASSERT_TRUE(queue().runUntil([&] { return order.size() == 100; }, 10s));
  poster.join();
  EXPECT_FALSE(posterIsMain);
  EXPECT_TRUE(allOnMain);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(MainQueueTest, RunUntilStopsAfterTheSatisfyingHandlerAndPollRunsOnlyReadyWork) {
  int ran = 0;
  auto distant = Timer::scheduledTimer(3600.0, false, [&](Timer&) { ran += 100; });
  for (int i = 0; i < 3; ++i) queue().async([&] { ++ran; });
  ASSERT_TRUE(queue().runUntil([&] { return ran == 1; }, 10s));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(queue().poll(), 2u);  // does not wait for the timer
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(queue().poll(), 0u);
  distant->invalidate();
  queue().poll();  // lets the cancelled wait finish
}

// Another thread's change reaches the predicate through the queue; between handlers the
// queue sleeps rather than looking again and again.
TEST(MainQueueTest, RunUntilSleepsUntilWorkArrivesAndTimesOut) {
  bool flag = false;
  std::thread setter([&] {
    std::this_thread::sleep_for(100ms);
    queue().async([&] { flag = true; });
  });
  int looks = 0;
  EXPECT_TRUE(queue().runUntil([&] { return ++looks, flag; }, 10s));
  setter.join();
  EXPECT_EQ(looks, 2) << "once on entry, once after the posted handler";
  EXPECT_FALSE(queue().runUntil([] { return false; }, 20ms));
}

TEST(MainQueueTest, StopEndsARunAndLaterRunsStillWork) {
  queue().async([] { queue().stop(); });
  EXPECT_FALSE(queue().runUntil([] { return false; }, 10s));
  queue().async([] { queue().stop(); });
  queue().run();
  bool ran = false;
  queue().async([&] { ran = true; });
  EXPECT_TRUE(queue().runUntil([&] { return ran; }, 10s));
  queue().stop();  // a stop while nothing runs does not block later runs either
  ran = false;
  queue().async([&] { ran = true; });
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tovik
