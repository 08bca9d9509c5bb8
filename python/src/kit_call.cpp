#include "kit_call.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace tovik::python {

std::shared_ptr<KitCall> KitCall::begin(const std::function<void(TkClientLocation&)>& configure,
                                        const std::function<void(TkClientLocation&)>& start) {
  auto call = std::make_shared<KitCall>();
  // A local reference too: a refusal (no consent, no key) arrives inside `start`, and the call
  // lets its own reference go then.
  const auto facade = TkClientLocation::create(call);
  call->facade_ = facade;
  configure(*facade);
  start(*facade);
  return call;
}

bool KitCall::drivesMainQueue() {
  MainQueue& queue = MainQueue::shared();
  // The first driving call settles which thread is the main thread; from another thread it
  // runs nothing.
  queue.poll();
  return queue.isMainThread();
}

bool KitCall::wait(std::optional<double> seconds, const std::function<bool()>& interrupted) {
  using Clock = std::chrono::steady_clock;
  if (!MainQueue::shared().isMainThread()) {
    return done();  // another thread drives the queue: runUntil would return at once
  }
  constexpr Clock::duration kSlice = std::chrono::milliseconds(250);
  // 1e9 s: no limit, far from overflowing the clock; NaN or less than nothing: no wait.
  const double limit = !seconds ? 1e9 : *seconds >= 0.0 ? std::min(*seconds, 1e9) : 0.0;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
  while (!done()) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    MainQueue::shared().runUntil([this] { return done(); }, std::min(left, kSlice));
    if (!done() && interrupted()) break;
  }
  return done();
}

void KitCall::abandon() {
  if (facade_) {
    MainQueue::shared().async([facade = std::move(facade_)] {
      facade->callDelegate = nullptr;
      facade->stopLocation();
    });
  }
}

void KitCall::finish(Outcome outcome) {
  if (!outcome_) {
    outcome_ = std::move(outcome);
    releaseFacade();
  }
}

void KitCall::releaseFacade() {
  MainQueue::shared().async([facade = std::move(facade_)] {});
}

}  // namespace tovik::python
