#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "tovik/requests/gnss_point.h"

namespace tovik {

/// The satellite fix of a track point: position, horizontal accuracy (metres) and, when
/// known, altitude (metres), vertical accuracy (metres) and ground speed (metres per second).
/// Absent members are left out of the JSON.
struct GnssData {
  GnssPoint point;
  double accuracy = 0.0;
  std::optional<double> altitude;
  std::optional<double> verticalAccuracy;
  std::optional<double> velocity;

  /// Non-finite numbers are kept as they are; the body's serialiser refuses them.
  nlohmann::json encode() const;
  static GnssData decode(const nlohmann::json& json);

  bool operator==(const GnssData&) const = default;
};

}  // namespace tovik
