#include "tovik/providers/source_watchdog.h"

#include <algorithm>

namespace tovik {

void SourceWatchdog::start(Clock::time_point now) {
  since_ = now;
  lastFix_.reset();
  gapCount_ = 0;
}

void SourceWatchdog::fixArrived(Clock::time_point at) {
  if (lastFix_) {
    gaps_[gapCount_ % kGapsKept] = std::max(at - *lastFix_, Clock::duration::zero());
    ++gapCount_;
  }
  lastFix_ = at;
}

SourceWatchdog::Clock::duration SourceWatchdog::expectedInterval() const {
  if (gapCount_ == 0) {
    return kDefaultInterval;
  }
  std::array<Clock::duration, kGapsKept> sorted = gaps_;
  const std::size_t count = std::min(gapCount_, kGapsKept);
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(count / 2);
  std::nth_element(sorted.begin(), middle, sorted.begin() + static_cast<std::ptrdiff_t>(count));
  return std::clamp(*middle, kShortestInterval, kLongestInterval);
}

SourceWatchdog::Clock::time_point SourceWatchdog::deadline() const {
  return lastFix_.value_or(since_) + 2 * expectedInterval();
}

}  // namespace tovik
