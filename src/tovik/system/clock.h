#pragma once

#include <optional>

namespace tovik {

/// The wall clock, through one function that tests can pin.
class Clock {
 public:
  /// Seconds since the Unix epoch.
  static double now();
  /// Pins `now()` to a value (tests); none returns to the real clock.
  static void pin(std::optional<double> secondsSinceEpoch);
};

}  // namespace tovik
