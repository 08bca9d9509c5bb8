#include "tovik/providers/retry_backoff.h"

#include <algorithm>

namespace tovik {

RetryBackoff::RetryBackoff() : RetryBackoff((std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()) {}

RetryBackoff::RetryBackoff(std::uint64_t seed) : engine_(seed) {}

std::chrono::milliseconds RetryBackoff::next() {
  std::uniform_int_distribution<std::chrono::milliseconds::rep> draw(0, bound_.count());
  const std::chrono::milliseconds wait(draw(engine_));
  bound_ = std::min(bound_ * 2, kLongestBound);
  return wait;
}

std::chrono::milliseconds RetryBackoff::afterLoss() {
  reset();
  std::uniform_int_distribution<std::chrono::milliseconds::rep> draw(kFirstBound.count(), 2 * kFirstBound.count());
  return std::chrono::milliseconds(draw(engine_));
}

}  // namespace tovik
