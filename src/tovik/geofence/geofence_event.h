#pragma once

#include <chrono>
#include <string>

#include "tovik/geofence/geofence.h"
#include "tovik/system/export.h"
#include "tovik/system/location.h"

namespace tovik {

/// One transition of one fence, as `GeofenceDelegate` receives it.
struct TOVIK_API GeofenceEvent {
  /// The fence's `Geofence::id`.
  std::string id{};
  GeofenceTransition transition = GeofenceTransition::enter;
  /// The fix that caused it, as the source reported it (WGS-84).
  Location location{};
  /// When it happened: the time stamp of that fix.
  std::chrono::system_clock::time_point time{};
};

}  // namespace tovik
