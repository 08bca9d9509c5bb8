#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

namespace tovik {

/// When a source's silence counts as a loss. The interval it expects between fixes is the
/// median of the last `kGapsKept` gaps between their arrivals, within `kShortestInterval` and
/// `kLongestInterval` (a 1 Hz receiver: 1 s; a 10 Hz one: 0.2 s, so that a few late epochs are
/// not a loss; one that reports every few minutes: 30 s); before two fixes have arrived it is
/// `kDefaultInterval`, a receiver's usual rate. Silence counts from the last fix, or from the
/// start before the first; it becomes a loss at twice the expected interval. Times only: the
/// provider keeps the state it reports and the timer that asks.
class SourceWatchdog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kDefaultInterval = std::chrono::seconds(1);
  static constexpr Clock::duration kShortestInterval = std::chrono::milliseconds(200);
  static constexpr Clock::duration kLongestInterval = std::chrono::seconds(30);
  static constexpr std::size_t kGapsKept = 15;

  /// Watches afresh from `now`: no fix, no gaps.
  void start(Clock::time_point now);
  /// A fix arrived at `at`.
  void fixArrived(Clock::time_point at);
  /// The gap expected between fixes.
  Clock::duration expectedInterval() const;
  /// When silence becomes a loss: twice the expected interval after the last fix (or the start).
  Clock::time_point deadline() const;

 private:
  Clock::time_point since_{};
  std::optional<Clock::time_point> lastFix_;
  std::array<Clock::duration, kGapsKept> gaps_{};
  std::size_t gapCount_ = 0;  // gaps noted since the start; the newest at (gapCount_ - 1) % kGapsKept
};

}  // namespace tovik
