#include "tovik/runloop/timer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <asio/steady_timer.hpp>

#include "tovik/runloop/main_queue.h"

namespace tovik {

namespace {
using Clock = std::chrono::steady_clock;

Clock::duration toDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
}  // namespace

struct Timer::Impl {
  Impl(asio::io_context& context, double interval, bool repeats, Block block)
      : timer(context),
        interval(interval),
        repeats(repeats),
        block(std::make_shared<Block>(std::move(block))) {}

  asio::steady_timer timer;
  double interval;
  bool repeats;
  // Shared so that a block that invalidates its own timer is not destroyed while it runs.
  std::shared_ptr<Block> block;
  bool valid = true;
  bool waiting = false;  // a wait is pending
  Clock::time_point nextFire;
};

Timer::Timer(Passkey, std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::scheduledTimer(double seconds, bool repeats, Block block) {
  if (std::isnan(seconds)) {
    seconds = 0.0;  // as soon as possible, like zero
  }
  if (repeats) {
    seconds = std::max(seconds, kMinimumRepeatInterval);
  }
  seconds = std::clamp(seconds, 0.0, 1e9);  // keeps the time point arithmetic in range
  auto timer = std::make_shared<Timer>(
      Passkey{}, std::make_unique<Impl>(MainQueue::shared().context(), seconds, repeats, std::move(block)));
  timer->impl_->nextFire = Clock::now() + toDuration(seconds);
  timer->arm();
  return timer;
}

void Timer::arm() {
  impl_->timer.expires_at(impl_->nextFire);
  MainQueue::shared().setDeadline(this, impl_->nextFire);
  // The pending wait owns the timer, as a run loop owns its scheduled timers.
  impl_->waiting = true;
  impl_->timer.async_wait([self = shared_from_this()](const asio::error_code& error) {
    self->impl_->waiting = false;
    if (!error) {
      self->fire();
    }
  });
}

void Timer::fire() {
  if (!impl_->valid) {
    return;
  }
  const std::shared_ptr<Block> block = impl_->block;
  // The timer is settled before the block runs, so a block that throws leaves a repeating
  // timer armed and a one-shot timer invalid; a block that invalidates its timer cancels
  // the next wait.
  if (impl_->repeats) {
    // The next fire is planned from this one's planned time, so the period does not drift;
    // ticks missed while the queue was busy are dropped rather than fired in a burst.
    const Clock::duration period = toDuration(impl_->interval);
    impl_->nextFire += period;
    const Clock::time_point now = Clock::now();
    if (impl_->nextFire <= now) {
      impl_->nextFire += period * ((now - impl_->nextFire) / period + 1);
    }
    arm();
  } else {
    invalidate();
  }
  if (block && *block) {
    (*block)(*this);
  }
}

void Timer::invalidate() {
  if (!impl_->valid) {
    return;
  }
  impl_->valid = false;
  impl_->timer.cancel();
  impl_->block.reset();
  MainQueue::shared().setDeadline(this, std::nullopt);
  if (impl_->waiting) {
    // The cancelled wait completes on the queue: a host asleep on the queue's descriptor is
    // woken to run it, which releases this timer.
    MainQueue::shared().async([] {});
  }
}

bool Timer::isValid() const { return impl_->valid; }

double Timer::timeInterval() const { return impl_->interval; }

}  // namespace tovik
