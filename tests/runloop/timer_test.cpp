#include "tovik/runloop/timer.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tovik/runloop/main_queue.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

TEST(TimerTest, OneShotKeepsItselfAliveFiresOnceLaterThenReleasesItsBlock) {
  for (const double delay : {0.01, 0.0, -5.0}) {
    SCOPED_TRACE(delay);
    int fired = 0;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weakToken = token;
    std::weak_ptr<Timer> weak = Timer::scheduledTimer(delay, false, [&, token](Timer&) { ++fired; });
    token.reset();
    ASSERT_FALSE(weak.expired());
    EXPECT_TRUE(weak.lock()->isValid());
    EXPECT_EQ(fired, 0);
    ASSERT_TRUE(queue().runUntil([&] { return fired == 1; }, 10s));
    queue().runFor(20ms);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(weakToken.expired());
  }
}

TEST(TimerTest, RepeatingTimerFiresUntilInvalidated) {
  bool cancelledFired = false;
  Timer::scheduledTimer(0.0, false, [&](Timer&) { cancelledFired = true; })->invalidate();
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.005, true, [&](Timer&) { ++fired; });
  ASSERT_TRUE(queue().runUntil([&] { return fired >= 5; }, 10s));
  timer->invalidate();
  const int atInvalidation = fired;
  queue().runFor(30ms);
  EXPECT_EQ(fired, atInvalidation);
  EXPECT_FALSE(timer->isValid());
  EXPECT_FALSE(cancelledFired);
}

// The application's exception propagates out of the queue; the timer stays as it was meant
// to be after its fire: a repeating one armed, a one-shot one invalid.
TEST(TimerTest, ABlockThatThrowsLeavesItsTimerSettled) {
  int fired = 0;
  auto repeating = Timer::scheduledTimer(0.005, true, [&](Timer&) {
    ++fired;
    throw std::runtime_error("the application's");
  });
  auto oneShot = Timer::scheduledTimer(0.0, false, [](Timer&) { throw std::runtime_error("the application's"); });
  for (int i = 0; i < 3; ++i) {
    EXPECT_THROW(queue().runUntil([] { return false; }, 10s), std::runtime_error);
  }
  EXPECT_GE(fired, 2) << "re-armed although its block threw";
  EXPECT_TRUE(repeating->isValid());
  EXPECT_FALSE(oneShot->isValid());
  repeating->invalidate();
  queue().poll();
}

TEST(TimerTest, InvalidateFromItsOwnBlockBreaksTheCycleItHolds) {
  int fired = 0;
  std::weak_ptr<Timer> weak;
  {
    auto self = std::make_shared<std::shared_ptr<Timer>>();
    *self = Timer::scheduledTimer(0.001, true, [&fired, self](Timer& timer) {
      if (++fired == 3) timer.invalidate();  // destroys this very block's owner; must be safe
    });
    weak = *self;
  }
  ASSERT_TRUE(queue().runUntil([&] { return fired == 3; }, 10s));
  queue().runFor(20ms);
  EXPECT_EQ(fired, 3);
  EXPECT_TRUE(weak.expired()) << "the timer, its block and the captured reference are released";
}

TEST(TimerTest, ZeroIntervalRepeatDoesNotSpin) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.0, true, [&](Timer&) { ++fired; });
  EXPECT_DOUBLE_EQ(timer->timeInterval(), Timer::kMinimumRepeatInterval);
  const auto start = std::chrono::steady_clock::now();
  queue().runFor(50ms);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  timer->invalidate();
  EXPECT_GE(fired, 1);
  // At most one fire per minimum period; a spinning timer would fire thousands of times.
  EXPECT_LE(fired, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() + 2);
}

}  // namespace
}  // namespace tovik
