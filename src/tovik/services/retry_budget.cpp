#include "tovik/services/retry_budget.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace tovik {

bool RetryBudget::failedMayRetry() {
  const std::lock_guard lock(mutex_);
  tokens_ = std::max(0.0, tokens_ - 1.0);
  return tokens_ > kMaxTokens / 2;
}

void RetryBudget::succeeded() {
  const std::lock_guard lock(mutex_);
  tokens_ = std::min(kMaxTokens, tokens_ + kTokenRatio);
}

double fullJitterDelay(double base, int step, double cap) {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  const double ceiling = std::min(cap, base * std::ldexp(1.0, std::clamp(step, 0, 60)));
  return std::uniform_real_distribution<double>(0.0, std::max(0.0, ceiling))(engine);
}

}  // namespace tovik
