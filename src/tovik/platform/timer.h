#pragma once

#include <functional>
#include <memory>

namespace tovik {

/// A one-shot or repeating timer on the main queue. Like a run-loop timer it keeps
/// itself alive while it is valid: the caller's reference is only needed to
/// invalidate it. Blocks should capture their owners weakly.
class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Block = std::function<void(Timer&)>;

  /// Repeating timers with a period below this fire at this period, so a zero or
  /// negative interval cannot spin the main queue.
  static constexpr double kMinimumRepeatInterval = 0.001;

  /// Schedules a timer that fires after `seconds` (zero or negative: as soon as possible)
  /// and, when `repeats`, every `seconds` after that. Call on the main thread.
  static std::shared_ptr<Timer> scheduledTimer(double seconds, bool repeats, Block block);

  /// Stops the timer for good and releases its block. Safe to call from its own block.
  void invalidate();
  bool isValid() const;
  double timeInterval() const;

  ~Timer();

 private:
  struct Impl;
  explicit Timer(std::unique_ptr<Impl> impl);
  void arm();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
