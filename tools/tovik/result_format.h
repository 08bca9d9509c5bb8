#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"
#include "tovik/system/tk_error.h"

namespace tovik {
class LocationRes;
class GeocodeRes;
struct GeofenceEvent;
}  // namespace tovik

namespace tovik::cli {

/// "LAT,LON", each in its shortest form.
std::string coordinateText(Coordinate point);

/// One readable line: address name | place (distance) | latitude, longitude | local time;
/// distances with six significant digits, positions with six decimals.
std::string describe(const LocationRes& result);
/// One readable line: name | address name | geoPoint | distance.
std::string describe(const GeocodeRes& result);

/// A fix as the source gave it: "fix LAT,LON ±ACCURACY m, TIME (SOURCE)".
std::string describeFix(const Location& fix);
/// {"fix": {"latitude", "longitude", "accuracy", "altitude", "verticalAccuracy", "speed",
/// "course", "time" (ms since the epoch), "source", "simulated"}}.
nlohmann::json fixDocument(const Location& fix);
/// A change of the source's availability: "source SOURCE unavailable (REASON), last fix AGE s
/// ago" or "source SOURCE available again".
std::string describeAvailability(const LocationAvailability& availability);
/// {"availability": {"available", "reason", "source", "lastFixAge" (seconds, null before the
/// first fix), "expectedInterval" (seconds)}}.
nlohmann::json availabilityDocument(const LocationAvailability& availability);
/// {"error": {"domain", "code", "call", "message", "detail", "attempts"[, "retryAfter"]}}.
nlohmann::json errorDocument(const TkError& error);
/// One readable line: fence id | transition | latitude, longitude of the fix | local time.
std::string describe(const GeofenceEvent& event);
/// The JSON line of an event: {"id", "transition", "time" (milliseconds since the epoch),
/// "latitude", "longitude"}, in that order.
std::string eventJsonLine(const GeofenceEvent& event);

/// A JSON document on one line; text that is not valid UTF-8 is replaced, not fatal.
std::string jsonLine(const nlohmann::json& document);

}  // namespace tovik::cli
