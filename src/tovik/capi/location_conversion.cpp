#include "tovik/capi/location_conversion.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "tovik/requests/request_stamp.h"

namespace tovik::capi {
namespace {

constexpr std::int64_t kMaxMillis = 9'000'000'000'000;

}  // namespace

Location toLocation(const tk_location& fix) {
  Location location;
  location.coordinate = {.latitude = fix.latitude, .longitude = fix.longitude};
  location.altitude = fix.altitude;
  location.horizontalAccuracy = fix.horizontalAccuracy;
  location.verticalAccuracy = fix.verticalAccuracy;
  location.speed = fix.speed;
  location.course = fix.course;
  // The system clock counts nanoseconds: beyond about 292 years from the epoch the
  // conversion would overflow, so a nonsense stamp is held at that range.
  const std::int64_t millis = std::clamp<std::int64_t>(fix.timestamp, -kMaxMillis, kMaxMillis);
  location.timestamp = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::milliseconds(millis)));
  return location;
}

tk_location toCLocation(const Location& location) {
  return {.latitude = location.coordinate.latitude,
          .longitude = location.coordinate.longitude,
          .altitude = location.altitude,
          .horizontalAccuracy = location.horizontalAccuracy,
          .verticalAccuracy = location.verticalAccuracy,
          .speed = location.speed,
          .course = location.course,
          .timestamp = toMilliseconds(location.timestamp)};
}

std::int64_t toMilliseconds(std::chrono::system_clock::time_point time) {
  return std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace tovik::capi

extern "C" tk_location tk_location_make(double latitude, double longitude) {
  tk_location fix = tovik::capi::toCLocation({.coordinate = {.latitude = latitude, .longitude = longitude}});
  fix.timestamp = tovik::RequestStamp::milliseconds();
  return fix;
}
