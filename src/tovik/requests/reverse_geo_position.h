#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tovik/requests/gnss_point.h"

namespace tovik {

/// A coordinate to resolve and, when given, its datum.
struct ReverseGeoPosition {
  GnssPoint point;
  std::optional<std::string> spatialReference;

  nlohmann::json encode() const;
  static ReverseGeoPosition decode(const nlohmann::json& json);

  bool operator==(const ReverseGeoPosition&) const = default;
};

}  // namespace tovik
