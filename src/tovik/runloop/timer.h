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
  /// The period of a repeating timer (at least `kMinimumRepeatInterval`), or the delay a
  /// one-shot timer was scheduled with (negative delays read as zero).
  double timeInterval() const;

  ~Timer();

 private:
  struct Impl;
  // Lets `scheduledTimer` use std::make_shared while nobody else can construct a Timer.
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  Timer(Passkey, std::unique_ptr<Impl> impl);

 private:
  void arm();
  void fire();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
