#pragma once

#include <mutex>

namespace tovik {

/// How freely a caller may retry, throttled as gRPC throttles retries: a bucket of
/// `kMaxTokens`; each failed request worth a retry takes one token, each success gives back
/// `kTokenRatio`, and a retry is sent only while more than half the bucket is left. A service
/// failing every call thus sees at most four retries in all, and a healthy one about one
/// retry per ten calls.
class RetryBudget {
 public:
  static constexpr double kMaxTokens = 10.0;
  static constexpr double kTokenRatio = 0.1;

  /// A request failed in a way a retry might mend; true when a retry may be sent.
  bool failedMayRetry();
  /// A request was answered.
  void succeeded();

 private:
  std::mutex mutex_;
  double tokens_ = kMaxTokens;
};

/// A wait drawn uniformly from [0, min(`cap`, `base` × 2^`step`)] seconds: full-jitter
/// exponential back-off, which spreads many clients' retries instead of synchronising them.
double fullJitterDelay(double base, int step, double cap);

}  // namespace tovik
