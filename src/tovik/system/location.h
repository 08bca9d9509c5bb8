#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include "tovik/system/export.h"

namespace tovik {

/// Latitude and longitude in degrees (north and east positive).
struct TOVIK_API Coordinate {
  double latitude = 0.0;   ///< degrees, north positive
  double longitude = 0.0;  ///< degrees, east positive
};

/// One fix from the location service, a value type. Unknown values follow the
/// platform conventions: negative accuracies mean "not valid", a negative speed or
/// course means "unknown".
struct TOVIK_API Location {
  Coordinate coordinate;             ///< WGS-84
  double altitude = 0.0;             ///< metres
  double horizontalAccuracy = 0.0;   ///< metres; negative: no valid horizontal position
  double verticalAccuracy = -1.0;    ///< metres; zero or negative: no valid altitude
  double speed = -1.0;               ///< metres per second; negative: unknown
  double course = -1.0;              ///< degrees from true north; negative: unknown
  std::chrono::system_clock::time_point timestamp{};  ///< when the fix was taken
  /// The source that reported it ("gpsd", "geoclue", "nmea-replay", "scripted", "fixed", or
  /// what an application's own provider calls itself); empty when unknown.
  std::string source{};
  /// Replayed, scripted or fixed rather than measured by a receiver now.
  bool simulated = false;
  /// When the kit received the fix from its source, on the monotonic clock (stamped on the
  /// main thread as the source hands it over); the clock's zero for a fix that did not come
  /// through a source. See `ageOf`.
  std::chrono::steady_clock::time_point receivedAt{};
};

/// How old `fix` is: the time since the kit received it from its source, on the monotonic
/// clock (a replayed log's old time stamps and steps of the wall clock do not count); for a
/// fix that did not come through a source, the time since its `timestamp` on the wall clock.
/// Never negative.
inline std::chrono::duration<double> ageOf(const Location& fix) {
  const std::chrono::duration<double> age =
      fix.receivedAt != std::chrono::steady_clock::time_point{}
          ? std::chrono::duration<double>(std::chrono::steady_clock::now() - fix.receivedAt)
          : std::chrono::duration<double>(std::chrono::system_clock::now() - fix.timestamp);
  return std::max(age, std::chrono::duration<double>::zero());
}

/// Whether a fix carries a position: a zero latitude or longitude is how a source says
/// "no fix", and a coordinate that is not a finite number is none either.
inline bool hasPosition(const Location& location) {
  const Coordinate& c = location.coordinate;
  return c.latitude != 0.0 && c.longitude != 0.0 && std::isfinite(c.latitude) && std::isfinite(c.longitude);
}

}  // namespace tovik
