#pragma once

#include <chrono>

#include "tovik/geofence/geofence.h"

namespace tovik {

/// Where the device stands with one fence, fix after fix, and the transitions that follow: an
/// entry at the first fix inside, an exit after the fence's confirmations of fixes in a row
/// beyond its band, a dwell once per stay after the loitering delay. The fence's own rules
/// decide which of them are reported.
class FencePresence {
 public:
  /// What one fix says about the fence.
  struct Reading {
    bool inside = false;
    /// The fix lies beyond the exit band, its accuracy counted (only read while inside).
    bool beyondBand = false;
    std::chrono::system_clock::time_point time{};
    /// The first fix since the fence was added.
    bool first = false;
  };

  FencePresence() = default;
  /// Outside `fence`, with its rules.
  explicit FencePresence(const Geofence& fence);

  /// The transitions `reading` makes, those the fence reports.
  GeofenceTransitions step(const Reading& reading);
  bool isInside() const { return inside_; }

 private:
  // The fence's rules, kept here: a fix reads them beside the state, not the whole fence.
  GeofenceTransitions transitions_ = 0;
  bool initialTrigger_ = true;
  int exitConfirmations_ = Geofence::kDefaultExitConfirmations;
  std::chrono::duration<double> loiteringDelay_{};

  bool inside_ = false;
  int fixesBeyondBand_ = 0;
  std::chrono::system_clock::time_point enteredAt_{};
  bool dwellPending_ = false;
};

}  // namespace tovik
