#pragma once

#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tovik/coord/datum.h"
#include "tovik/system/export.h"
#include "tovik/system/location.h"

namespace tovik {

/// What happened between the device and a fence. The values are bits: a set of them
/// (`GeofenceTransitions`) says which transitions a fence reports.
enum class GeofenceTransition : unsigned {
  enter = 1,  ///< the device came inside
  exit = 2,   ///< the device left, beyond the exit band, confirmed
  dwell = 4,  ///< the device has stayed inside for the loitering delay
};

/// A set of transitions: `GeofenceTransition` values or-ed together.
using GeofenceTransitions = unsigned;

constexpr GeofenceTransitions operator|(GeofenceTransition a, GeofenceTransition b) {
  return static_cast<GeofenceTransitions>(a) | static_cast<GeofenceTransitions>(b);
}
constexpr GeofenceTransitions operator|(GeofenceTransitions set, GeofenceTransition t) {
  return set | static_cast<GeofenceTransitions>(t);
}
/// Whether `set` holds `transition`.
constexpr bool hasTransition(GeofenceTransitions set, GeofenceTransition transition) {
  return (set & static_cast<GeofenceTransitions>(transition)) != 0;
}

/// "enter", "exit" or "dwell".
TOVIK_API const char* geofenceTransitionName(GeofenceTransition transition);

/// A circle: its centre and its radius in metres (on the kit's sphere, as
/// `OrbCoorTransform::distanceByPoint` measures).
struct TOVIK_API GeofenceCircle {
  Coordinate center{};
  double radius = 0.0;
};

/// A polygon: its outer ring and any holes, each at least three vertices (repeating the first
/// at the end is allowed). Edges are straight in latitude and longitude, as in GeoJSON; a point
/// exactly on an edge may count on either side.
struct TOVIK_API GeofencePolygon {
  std::vector<Coordinate> ring{};
  std::vector<std::vector<Coordinate>> holes{};
};

/// One fence for `GeofenceMonitor`: an identifier, a shape in a datum, and the rules of its
/// transitions.
///
/// Exits are guarded against a device that stands still near the edge, whose fixes scatter: a
/// fix counts towards an exit only when even the near end of its accuracy lies beyond the exit
/// band (distance to the fence − accuracy > band; an unknown accuracy counts as 0), and the exit
/// is reported after `exitConfirmations` such fixes in a row. Fixes inside the band keep the
/// device inside. Entries are reported at the first fix inside.
struct TOVIK_API Geofence {
  /// The default band is this share of the fence's radius (for a polygon, the radius of the
  /// circle of the same area) ...
  static constexpr double kExitBandShare = 0.1;
  /// ... and at least this many metres.
  static constexpr double kMinimumExitBand = 20.0;
  static constexpr int kDefaultExitConfirmations = 2;

  /// Names the fence in its events; a fence added with the id of another replaces it.
  std::string id{};
  std::variant<GeofenceCircle, GeofencePolygon> shape{};
  /// The datum the shape is written in. Fixes (WGS-84) are converted into it before they are
  /// tested, so the shape is used exactly as drawn on a map of that datum.
  Datum datum = Datum::wgs84;
  /// Which transitions reach the delegate; the fence is watched the same way whatever they are.
  GeofenceTransitions transitions = GeofenceTransition::enter | GeofenceTransition::exit;
  /// Seconds inside, counted on the fixes' time stamps from the fix that entered, after which
  /// a dwell is reported (once per stay).
  double loiteringDelay = 0.0;
  /// Seconds after it is added (on the wall clock) when the monitor drops the fence silently;
  /// infinity: never.
  double expiry = std::numeric_limits<double>::infinity();
  /// Whether a device already inside at the first fix after the fence was added is reported
  /// as entering (true), or taken as inside silently, without a dwell for that stay (false).
  bool initialTrigger = true;
  /// Metres beyond the edge a fix must lie to count towards an exit; none: the default,
  /// max(kExitBandShare × radius, kMinimumExitBand).
  std::optional<double> exitBand{};
  /// Fixes in a row beyond the band that make an exit (at least 1).
  int exitConfirmations = kDefaultExitConfirmations;

  /// Why a monitor cannot watch this fence, in a sentence; none when it can. Coordinates must be
  /// finite and in range; a circle must not reach a pole or cross the 180th meridian, a polygon's
  /// rings must enclose some area.
  std::optional<std::string> problem() const;
};

}  // namespace tovik
