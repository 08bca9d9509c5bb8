// The geofence monitor for C callers: `tk_geofence_monitor` owns one `GeofenceMonitor`.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/c_geofence_delegate.h"
#include "tovik/capi/location_conversion.h"
#include "tovik/capi/versioned_table.h"
#include "tovik/geofence/geofence_monitor.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"

struct tk_geofence_monitor {
  explicit tk_geofence_monitor(std::shared_ptr<tovik::GeofenceMonitor> monitor) : monitor(std::move(monitor)) {}

  std::shared_ptr<tovik::GeofenceMonitor> monitor;
};

namespace {

using tovik::Geofence;
using tovik::GeofenceMonitor;
using tovik::capi::CGeofenceDelegate;
using tovik::capi::guarded;
using tovik::capi::guardedStatus;
using tovik::capi::guardedVoid;
using tovik::capi::onMainThreadHandle;
using tovik::capi::onMainThreadOrUndriven;

/// Runs `body` on the monitor of `handle`, held for the whole call: a callback may destroy the
/// handle.
template <class Body>
tk_status onMonitor(tk_geofence_monitor* handle, Body&& body) noexcept {
  return onMainThreadHandle(handle, [&] {
    const std::shared_ptr<GeofenceMonitor> monitor = handle->monitor;
    return body(*monitor);
  });
}

/// `options` (NULL: the defaults) written into `fence`; false for one the kit cannot read.
bool readOptions(const tk_geofence_options* options, Geofence& fence) {
  const tk_geofence_options given = options == nullptr ? tk_geofence_options_make() : *options;
  if (given.size < offsetof(tk_geofence_options, exitConfirmations) + sizeof given.exitConfirmations) {
    return false;
  }
  const tk_geofence_options o = tovik::capi::knownMembers(given, tk_geofence_options_make());
  if (o.datum < TK_DATUM_WGS84 || o.datum > TK_DATUM_BD09) {
    return false;
  }
  fence.datum = static_cast<tovik::Datum>(o.datum);
  fence.transitions = o.transitions;
  fence.loiteringDelay = o.loiteringDelay;
  fence.expiry = o.expiry;
  fence.initialTrigger = o.initialTrigger;
  fence.exitBand = o.exitBand >= 0.0 ? std::optional(o.exitBand) : std::nullopt;
  fence.exitConfirmations = o.exitConfirmations;
  return true;
}

std::vector<tovik::Coordinate> coordinates(const tk_coordinate* points, std::size_t count) {
  std::vector<tovik::Coordinate> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) out.push_back({points[i].latitude, points[i].longitude});
  return out;
}

tk_status add(tk_geofence_monitor* handle, Geofence fence, const tk_geofence_options* options) {
  return onMonitor(handle, [&](GeofenceMonitor& monitor) {
    return readOptions(options, fence) && monitor.addGeofence(fence) ? TK_OK : TK_ERROR_INVALID_ARGUMENT;
  });
}

}  // namespace

extern "C" {

tk_geofence_options tk_geofence_options_make(void) {
  const Geofence defaults;
  return {.size = sizeof(tk_geofence_options),
          .datum = TK_DATUM_WGS84,
          .transitions = defaults.transitions,
          .loiteringDelay = defaults.loiteringDelay,
          .expiry = defaults.expiry,
          .initialTrigger = defaults.initialTrigger,
          .exitBand = -1.0,
          .exitConfirmations = defaults.exitConfirmations};
}

tk_geofence_monitor* tk_geofence_monitor_create(const tk_geofence_delegate* delegate) {
  if (!onMainThreadOrUndriven() || !CGeofenceDelegate::isReadable(delegate)) {
    return nullptr;
  }
  return guarded(static_cast<tk_geofence_monitor*>(nullptr), [&] {
    return std::make_unique<tk_geofence_monitor>(GeofenceMonitor::create(CGeofenceDelegate::make(delegate)))
        .release();
  });
}

void tk_geofence_monitor_destroy(tk_geofence_monitor* handle) {
  guardedVoid([&] {
    std::shared_ptr<tk_geofence_monitor> owned(handle);
    if (owned && !onMainThreadOrUndriven()) {
      // Its attachment to the source belongs to the main thread: let it go there.
      tovik::MainQueue::shared().async([owned = std::move(owned)]() mutable { owned.reset(); });
    }
  });
}

tk_status tk_geofence_monitor_addCircle(tk_geofence_monitor* monitor, const char* id, tk_coordinate center,
                                        double radius, const tk_geofence_options* options) {
  if (id == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    return add(monitor,
               Geofence{.id = id, .shape = tovik::GeofenceCircle{{center.latitude, center.longitude}, radius}},
               options);
  });
}

tk_status tk_geofence_monitor_addPolygon(tk_geofence_monitor* monitor, const char* id, const tk_coordinate* ring,
                                         size_t ringCount, const tk_coordinate* const* holes,
                                         const size_t* holeCounts, size_t holeCount,
                                         const tk_geofence_options* options) {
  if (id == nullptr || (ring == nullptr && ringCount > 0) ||
      (holeCount > 0 && (holes == nullptr || holeCounts == nullptr))) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  for (std::size_t i = 0; i < holeCount; ++i) {
    if (holes[i] == nullptr && holeCounts[i] > 0) return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    tovik::GeofencePolygon polygon{.ring = coordinates(ring, ringCount), .holes = {}};
    for (std::size_t i = 0; i < holeCount; ++i) polygon.holes.push_back(coordinates(holes[i], holeCounts[i]));
    return add(monitor, Geofence{.id = id, .shape = std::move(polygon)}, options);
  });
}

tk_status tk_geofence_monitor_removeGeofence(tk_geofence_monitor* monitor, const char* id) {
  if (id == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return onMonitor(monitor, [&](GeofenceMonitor& m) { return m.removeGeofence(id) ? TK_OK : TK_ERROR_INVALID_ARGUMENT; });
}

tk_status tk_geofence_monitor_removeAllGeofences(tk_geofence_monitor* monitor) {
  return onMonitor(monitor, [](GeofenceMonitor& m) {
    m.removeAllGeofences();
    return TK_OK;
  });
}

size_t tk_geofence_monitor_geofenceCount(const tk_geofence_monitor* monitor) {
  if (monitor == nullptr || !onMainThreadOrUndriven()) {
    return 0;
  }
  return guarded(std::size_t{0}, [&] { return monitor->monitor->geofenceCount(); });
}

bool tk_geofence_monitor_isInside(const tk_geofence_monitor* monitor, const char* id) {
  if (monitor == nullptr || id == nullptr || !onMainThreadOrUndriven()) {
    return false;
  }
  return guarded(false, [&] { return monitor->monitor->isInside(id); });
}

tk_status tk_geofence_monitor_evaluate(tk_geofence_monitor* monitor, const tk_location* fix) {
  if (monitor == nullptr || fix == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    // Off the main thread the monitor posts the fix there itself.
    const std::shared_ptr<GeofenceMonitor> held = monitor->monitor;
    held->evaluate(tovik::capi::toLocation(*fix));
    return TK_OK;
  });
}

tk_status tk_geofence_monitor_attach(tk_geofence_monitor* monitor) {
  return onMonitor(monitor, [](GeofenceMonitor& m) {
    m.attach(tovik::LocationServices::provider());
    return TK_OK;
  });
}

tk_status tk_geofence_monitor_detach(tk_geofence_monitor* monitor) {
  return onMonitor(monitor, [](GeofenceMonitor& m) {
    m.detach();
    return TK_OK;
  });
}

}  // extern "C"
