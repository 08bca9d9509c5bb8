#pragma once

#include <string_view>
#include <vector>

#include "tovik/geofence/geofence.h"

namespace tovik::cli {

/// The fences of a GeoJSON FeatureCollection (RFC 7946: positions are [longitude, latitude]).
/// A Point feature with a `radius` in metres among its properties is a circle; a Polygon
/// feature a polygon, its first ring the outline and the others holes. Properties: `id` (text
/// or a number; else the feature's own `id`), `datum` (wgs84, gcj02 or bd09; default wgs84),
/// `transitions` (a list of enter, exit and dwell, or one of them; default enter and exit) and
/// `loiter` (seconds before a dwell). A `UsageError` names the feature and what is wrong.
std::vector<Geofence> readGeofences(std::string_view text);

}  // namespace tovik::cli
