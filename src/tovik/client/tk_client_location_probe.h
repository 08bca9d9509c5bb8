#pragma once

#include <memory>

#include "tovik/client/tk_client_location.h"

namespace tovik {

/// A facade's session machinery, for tests and tools inside the kit; not installed.
class TkClientLocationProbe {
 public:
  static const std::shared_ptr<LocationController>& locateDelegate(const TkClientLocation& client) {
    return client.locateDelegate_;
  }
  static bool hasTimerSchedule(const TkClientLocation& client) { return client.timerSchedule_ != nullptr; }
  static const std::shared_ptr<Timer>& timerSchedule(const TkClientLocation& client) {
    return client.timerSchedule_;
  }
};

}  // namespace tovik
