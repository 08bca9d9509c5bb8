#pragma once

#include <optional>
#include <string>

#include "tovik/system/tk_error.h"

namespace tovik {

/// Whether a continuous session's tick may send its fix when the service struggles: not while
/// the previous upload is still out, and not before the time the service asked for after a
/// 429 or 503 (its Retry-After; without one, full-jitter exponential back-off from the
/// session's interval, doubling up to 5 minutes). Times are `Clock` seconds; main thread only.
class UploadPacer {
 public:
  /// The longest back-off of its own; a Retry-After is honoured as the service says.
  static constexpr double kLongestHold = 300.0;

  /// Why the tick at `now` sends nothing (a line for the log), or none when it may send.
  std::optional<std::string> holdReason(double now) const;
  /// An upload went out.
  void sent() { ++outstanding_; }
  /// An upload came back: `failure` is none for a result.
  void settled(const TkError* failure, double interval, double now);

 private:
  int outstanding_ = 0;
  double notBefore_ = 0.0;
  int step_ = 0;  // back-off steps taken since the last result
};

}  // namespace tovik
