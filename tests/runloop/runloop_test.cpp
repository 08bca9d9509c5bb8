#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tovik/runloop/main_queue.h"
#include "tovik/runloop/timer.h"
#include "support/log_capture.h"

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

// runUntil stops after the satisfying handler; poll runs only the work that is ready; another
// thread's change reaches the predicate through the queue, which sleeps between handlers rather
// than looking again and again.
TEST(MainQueueTest, RunUntilPollAndStopRunWhatTheyShould) {
  int ran = 0;
  auto distant = Timer::scheduledTimer(3600.0, false, [&](Timer&) { ran += 100; });
  for (int i = 0; i < 3; ++i) queue().async([&] { ++ran; });
  ASSERT_TRUE(queue().runUntil([&] { return ran == 1; }, 10s));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(queue().poll(), 2u);
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(queue().poll(), 0u);
  distant->invalidate();
  queue().poll();  // lets the cancelled wait finish

  std::thread setter([&] {
    std::this_thread::sleep_for(100ms);
    queue().async([&] { ran = 0; });
  });
  int looks = 0;
  EXPECT_TRUE(queue().runUntil([&] { return ++looks, ran == 0; }, 10s));
  setter.join();
  EXPECT_EQ(looks, 2) << "once on entry, once after the posted handler";
  EXPECT_FALSE(queue().runUntil([] { return false; }, 20ms));

  // A stop ends a run, and later runs still work, also after a stop while nothing ran.
  queue().async([] { queue().stop(); });
  EXPECT_FALSE(queue().runUntil([] { return false; }, 10s));
  queue().async([] { queue().stop(); });
  queue().run();
  queue().async([&] { ran = 1; });
  EXPECT_TRUE(queue().runUntil([&] { return ran == 1; }, 10s));
  queue().stop();
  queue().async([&] { ran = 2; });
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_EQ(ran, 2);
}

// Once a thread has driven the queue, another thread's driving calls return at once and run
// nothing, so no handler ever runs on two threads at once; the work waits for the main thread.
TEST(MainQueueTest, OnlyTheMainThreadDrivesIt) {
  queue().poll();  // this thread drives the queue from here on
  int ran = 0;
  queue().async([&] { ++ran; });
  std::string logged;
  std::thread other([&] {
    logged = test::logOf([] {
      EXPECT_EQ(queue().poll(), 0u);
      EXPECT_EQ(queue().runFor(20ms), 0u);
      EXPECT_FALSE(queue().runUntil([] { return true; }, 20ms));
      queue().run();  // returns at once instead of running until stopped
    });
    EXPECT_FALSE(queue().isMainThread());
  });
  other.join();
  const std::string refused = "[Tovik] 主队列只能由主线程驱动，此调用被忽略\n";
  EXPECT_EQ(logged, refused + refused + refused + refused) << "one line for each refused call";
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(queue().isMainThread());
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_EQ(ran, 1);
}

// A host that sleeps in its own poll() on the queue's descriptor, for the queue's timeout, gets
// work posted from another thread and the kit's timers, and is not woken when nothing waits.
TEST(MainQueueTest, AHostLoopAsleepOnTheDescriptorGetsWorkAndTimers) {
  queue().poll();
  pollfd descriptor{.fd = queue().fd(), .events = POLLIN, .revents = 0};
  ASSERT_GE(descriptor.fd, 0);
  EXPECT_EQ(queue().nextTimeout(), std::nullopt);
  EXPECT_EQ(::poll(&descriptor, 1, 0), 0);

  int ran = 0;
  std::thread poster([&] {
    std::this_thread::sleep_for(50ms);
    queue().async([&] { ++ran; });
  });
  EXPECT_EQ(::poll(&descriptor, 1, 10000), 1);  // a bound on the test, where a host would wait for ever
  poster.join();
  EXPECT_EQ(queue().nextTimeout(), std::chrono::steady_clock::duration::zero());
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(::poll(&descriptor, 1, 0), 0) << "readable only while work waits";

  bool fired = false;
  auto timer = Timer::scheduledTimer(0.05, false, [&](Timer&) { fired = true; });
  const auto timeout = queue().nextTimeout();
  ASSERT_TRUE(timeout);
  EXPECT_GT(*timeout, 0ms);
  EXPECT_LE(*timeout, 50ms);
  EXPECT_EQ(::poll(&descriptor, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*timeout).count())),
            0);
  queue().poll();
  EXPECT_TRUE(fired);
  EXPECT_EQ(queue().nextTimeout(), std::nullopt);

  // Work the main thread posts runs in the poll that is running, or wakes the host when it
  // was posted outside one; a poll cut short by a stop leaves the host woken for the rest.
  queue().async([&] { queue().async([&] { ++ran; }); });
  EXPECT_EQ(::poll(&descriptor, 1, 0), 1);
  EXPECT_EQ(queue().poll(), 2u);
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(::poll(&descriptor, 1, 0), 0) << "no wake-up for work already run";
  queue().async([&] {
    queue().stop();
    queue().async([&] { ++ran; });
  });
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_EQ(::poll(&descriptor, 1, 0), 1);
  EXPECT_EQ(queue().poll(), 1u);
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(::poll(&descriptor, 1, 0), 0);

  // A cancelled timer wakes the host once, to release it.
  auto distant = Timer::scheduledTimer(3600.0, false, [](Timer&) {});
  const std::weak_ptr<Timer> released = distant;
  distant->invalidate();
  distant.reset();
  EXPECT_EQ(::poll(&descriptor, 1, 0), 1);
  queue().poll();
  EXPECT_TRUE(released.expired());
  EXPECT_EQ(queue().nextTimeout(), std::nullopt);
}

// Posts from many threads while the host loop drains them: every item runs, and once all have
// run the descriptor is quiet again (a poster's late write must not leave it readable with
// nothing to run, which would spin the host's loop until the next post).
TEST(MainQueueTest, ManyPostersLeaveTheDescriptorQuietOnceAllRan) {
  queue().poll();
  constexpr int kThreads = 4;
  constexpr int kPosts = 20000;
  int ran = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < kPosts; ++i) queue().async([&] { ++ran; });
    });
  }
  pollfd descriptor{.fd = queue().fd(), .events = POLLIN, .revents = 0};
  while (ran < kThreads * kPosts) {
    if (::poll(&descriptor, 1, 10000) != 1) {  // a bound on the test, where a host would wait for ever
      ADD_FAILURE() << "work waits, yet the descriptor is not readable";
      break;
    }
    queue().poll();
  }
  for (auto& poster : posters) poster.join();
  queue().poll();
  EXPECT_EQ(::poll(&descriptor, 1, 0), 0);
  EXPECT_EQ(queue().nextTimeout(), std::nullopt);
}

TEST(TimerTest, OneShotKeepsItselfAliveFiresOnceLaterThenReleasesItsBlock) {
  for (const double delay : {0.01, 0.0, -5.0}) {
    SCOPED_TRACE(delay);
    int fired = 0;
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> weakToken = token;
    std::weak_ptr<Timer> weak = Timer::scheduledTimer(delay, false, [&, token = std::move(token)](Timer&) { ++fired; });
    ASSERT_TRUE(!weak.expired() && weak.lock()->isValid());
    EXPECT_EQ(fired, 0);
    ASSERT_TRUE(queue().runUntil([&] { return fired == 1; }, 10s));
    queue().runFor(20ms);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(weak.expired() && weakToken.expired());
  }
}

// A zero interval repeats at the minimum period, at most one fire per period (a spinning timer
// would fire thousands of times), until invalidated; a timer invalidated at once never fires.
TEST(TimerTest, RepeatingTimerFiresUntilInvalidatedWithoutSpinning) {
  bool cancelledFired = false;
  Timer::scheduledTimer(0.0, false, [&](Timer&) { cancelledFired = true; })->invalidate();
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.0, true, [&](Timer&) { ++fired; });
  EXPECT_DOUBLE_EQ(timer->timeInterval(), Timer::kMinimumRepeatInterval);
  const auto start = std::chrono::steady_clock::now();
  queue().runFor(50ms);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  timer->invalidate();
  const int atInvalidation = fired;
  EXPECT_GE(fired, 2);
  EXPECT_LE(fired, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() + 2);
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
  for (int i = 0; i < 3; ++i) EXPECT_THROW(queue().runUntil([] { return false; }, 10s), std::runtime_error);
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

}  // namespace
}  // namespace tovik
