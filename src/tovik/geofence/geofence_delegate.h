#pragma once

#include "tovik/geofence/geofence_event.h"
#include "tovik/system/error.h"
#include "tovik/system/export.h"

namespace tovik {

/// What the application implements to hear a `GeofenceMonitor`, on the main thread. A member
/// may add or remove fences, replace the delegate or release the monitor.
class TOVIK_API GeofenceDelegate {
 public:
  virtual ~GeofenceDelegate() = default;

  /// A fence's transition. The events of one fix arrive together, exits first, then entries,
  /// then dwells, each kind in the order of the fences' ids. Required.
  virtual void onReceivedGeofenceEvent(const GeofenceEvent& event) = 0;
  /// The location source the monitor is attached to failed, as the source reported it. Optional.
  virtual void onGeofenceSourceError(const Error& error);
};

}  // namespace tovik
