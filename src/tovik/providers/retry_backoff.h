#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace tovik {

/// The waits of a reader that reconnects to its source: exponential back-off with full
/// jitter. The n-th wait after a reset is drawn uniformly from zero to
/// min(kLongestBound, kFirstBound × 2^n), so readers that lost the same daemon do not
/// return to it in step, and a daemon that stays away is asked at most about every 30 s.
/// A source that was working and went away (a daemon restarting) is given a moment first:
/// `afterLoss`. One per reader thread (not shared between threads).
class RetryBackoff {
 public:
  static constexpr std::chrono::milliseconds kFirstBound{500};
  static constexpr std::chrono::milliseconds kLongestBound{30000};

  /// Seeded from the system's random source.
  RetryBackoff();
  /// Seeded with `seed`, for repeatable draws.
  explicit RetryBackoff(std::uint64_t seed);

  /// The next wait; the bound of the one after doubles, up to `kLongestBound`.
  std::chrono::milliseconds next();
  /// The bound the next wait is drawn under.
  std::chrono::milliseconds bound() const { return bound_; }
  /// After a success: the next wait is drawn under `kFirstBound` again.
  void reset() { bound_ = kFirstBound; }
  /// The pause before reconnecting to a source that was working and went away: drawn from
  /// `kFirstBound` to twice that (a restarting daemon is not asked before it can be back, and
  /// readers that lost it together spread out); the waits after it start from a reset.
  std::chrono::milliseconds afterLoss();

 private:
  std::mt19937_64 engine_;
  std::chrono::milliseconds bound_ = kFirstBound;
};

}  // namespace tovik
