#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tovik/geofence/geofence.h"
#include "tovik/geofence/geofence_delegate.h"
#include "tovik/system/export.h"
#include "tovik/system/location.h"

namespace tovik {

class LocationProvider;

/// Watches fences on the device's own fixes: no service, no network. Fixes come from the
/// application (`evaluate`) or from a location source the monitor is attached to (`attach`):
/// gpsd, GeoClue2, a replayed NMEA log, a scripted or fixed source, any of them.
///
/// Each fix is tested against the fences near it (an R-tree of their bounding boxes) and the
/// fences the device is inside, so its cost depends on those, not on the number of fences,
/// which only memory limits. Transitions follow the rules of each `Geofence` and reach the
/// delegate, held strongly, on the main thread.
///
/// Create with `create`; use from the main thread, except `evaluate`.
class TOVIK_API GeofenceMonitor : public std::enable_shared_from_this<GeofenceMonitor> {
 public:
  static std::shared_ptr<GeofenceMonitor> create(std::shared_ptr<GeofenceDelegate> delegate);
  /// Detaches from its source.
  ~GeofenceMonitor();
  GeofenceMonitor(const GeofenceMonitor&) = delete;
  GeofenceMonitor& operator=(const GeofenceMonitor&) = delete;

  const std::shared_ptr<GeofenceDelegate>& delegate() const;
  /// None: events are dropped.
  void setDelegate(std::shared_ptr<GeofenceDelegate> delegate);

  /// Watches `fence` from the next fix on, in place of a fence with the same id; false (and
  /// the kit's log says why) when `fence.problem()` names one.
  bool addGeofence(const Geofence& fence);
  /// Stops watching the fence `id`; false when there is none.
  bool removeGeofence(const std::string& id);
  void removeAllGeofences();
  /// The fences watched now (expired ones are gone).
  std::size_t geofenceCount() const;
  /// Whether the device is inside the fence `id` as far as the monitor knows (an exit not yet
  /// confirmed leaves it inside); false for an unknown fence.
  bool isInside(const std::string& id) const;

  /// Tests one fix (WGS-84) against the fences; a fix without a position (`hasPosition`) is
  /// ignored. On the main thread the events are delivered before it returns; from any other
  /// thread the fix is handed to the main queue and tested there, in the order given.
  void evaluate(const Location& fix);

  /// Takes the fixes of `provider` from now on, starting it if it was idle (for the process's
  /// source, pass `LocationServices::provider()`); its errors reach `onGeofenceSourceError`,
  /// and so does a failure it is in already. Replaces an earlier attachment.
  void attach(std::shared_ptr<LocationProvider> provider);
  /// Stops taking fixes; the source stops if nothing else listens to it.
  void detach();
  bool isAttached() const;

 private:
  class PrivateTag {
    explicit PrivateTag() = default;
    friend class GeofenceMonitor;
  };

 public:
  explicit GeofenceMonitor(PrivateTag);

 private:
  struct Impl;
  class SourceListener;

  void sourceFailed(const Error& error);

  std::unique_ptr<Impl> impl_;
};

}  // namespace tovik
