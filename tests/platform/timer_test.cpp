#include "tovik/platform/timer.h"

#include <gtest/gtest.h>

#include "tovik/platform/main_queue.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

TEST(TimerTest, OneShotFiresOnceThenReleasesItsBlock) {
  int fired = 0;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> weakToken = token;
  auto timer = Timer::scheduledTimer(0.01, false, [&, token](Timer&) { ++fired; });
  token.reset();
  EXPECT_TRUE(timer->isValid());
  ASSERT_TRUE(queue().runUntil([&] { return fired == 1; }, 10s));
  EXPECT_FALSE(timer->isValid());
  EXPECT_TRUE(weakToken.expired());
  queue().runFor(20ms);
  EXPECT_EQ(fired, 1);
}

TEST(TimerTest, KeepsItselfAliveWithoutTheCallersReference) {
  bool fired = false;
  std::weak_ptr<Timer> weak = Timer::scheduledTimer(0.0, false, [&](Timer&) { fired = true; });
  EXPECT_FALSE(weak.expired());
  ASSERT_TRUE(queue().runUntil([&] { return fired; }, 10s));
  queue().poll();
  EXPECT_TRUE(weak.expired());
}

TEST(TimerTest, ZeroAndNegativeDelaysFireSoonButNeverSynchronously) {
  for (const double delay : {0.0, -5.0}) {
    bool fired = false;
    auto timer = Timer::scheduledTimer(delay, false, [&](Timer&) { fired = true; });
    EXPECT_FALSE(fired) << delay;
    EXPECT_TRUE(queue().runUntil([&] { return fired; }, 10s)) << delay;
  }
}

TEST(TimerTest, RepeatingTimerFiresUntilInvalidated) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.005, true, [&](Timer&) { ++fired; });
  ASSERT_TRUE(queue().runUntil([&] { return fired >= 5; }, 10s));
  timer->invalidate();
  const int atInvalidation = fired;
  queue().runFor(30ms);
  EXPECT_EQ(fired, atInvalidation);
  EXPECT_FALSE(timer->isValid());
}

TEST(TimerTest, InvalidateFromItsOwnBlockBreaksTheCycleItHolds) {
  int fired = 0;
  std::weak_ptr<Timer> weak;
  {
    auto self = std::make_shared<std::shared_ptr<Timer>>();
    *self = Timer::scheduledTimer(0.001, true, [&fired, self](Timer& timer) {
      if (++fired == 3) {
        timer.invalidate();  // destroys this very block's owner; must be safe
      }
    });
    weak = *self;
  }
  ASSERT_TRUE(queue().runUntil([&] { return fired == 3; }, 10s));
  queue().runFor(20ms);
  EXPECT_EQ(fired, 3);
  EXPECT_TRUE(weak.expired()) << "the timer, its block and the captured reference are released";
}

TEST(TimerTest, InvalidatedBeforeFiringNeverFires) {
  bool fired = false;
  auto timer = Timer::scheduledTimer(0.0, false, [&](Timer&) { fired = true; });
  timer->invalidate();
  queue().runFor(20ms);
  EXPECT_FALSE(fired);
}

TEST(TimerTest, ZeroIntervalRepeatDoesNotSpin) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.0, true, [&](Timer&) { ++fired; });
  EXPECT_DOUBLE_EQ(timer->timeInterval(), Timer::kMinimumRepeatInterval);
  const auto start = std::chrono::steady_clock::now();
  queue().runFor(50ms);
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  timer->invalidate();
  EXPECT_GE(fired, 1);
  // At most one fire per minimum period; a spinning timer would fire thousands of times.
  EXPECT_LE(fired, elapsedMs + 2);
}

}  // namespace
}  // namespace tovik
