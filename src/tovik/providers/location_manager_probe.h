#pragma once

#include "tovik/providers/location_manager.h"

namespace tovik {

/// Test-only controls of a `LocationManager`.
class LocationManagerProbe {
 public:
  /// Shortens the `requestLocation` wait.
  static void setRequestLocationTimeout(LocationManager& manager, double seconds);
};

}  // namespace tovik
