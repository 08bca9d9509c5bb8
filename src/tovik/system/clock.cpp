#include "tovik/system/clock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>

namespace tovik {

namespace {
// NaN means "not pinned"; one atomic keeps `now()` lock-free and consistent.
std::atomic<double>& pinned() {
  static std::atomic<double> value{std::numeric_limits<double>::quiet_NaN()};
  return value;
}
}  // namespace

double Clock::now() {
  const double value = pinned().load(std::memory_order_relaxed);
  if (!std::isnan(value)) {
    return value;
  }
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count();
}

void Clock::pin(std::optional<double> secondsSinceEpoch) {
  pinned().store(secondsSinceEpoch.value_or(std::numeric_limits<double>::quiet_NaN()),
                 std::memory_order_relaxed);
}

}  // namespace tovik
