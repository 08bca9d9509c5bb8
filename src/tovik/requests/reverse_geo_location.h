#pragma once

#include <nlohmann/json.hpp>

#include "tovik/requests/reverse_geo_position.h"

namespace tovik {

/// The location part of a reverse-geocoding body.
struct ReverseGeoLocation {
  ReverseGeoPosition position;

  nlohmann::json encode() const;
  static ReverseGeoLocation decode(const nlohmann::json& json);

  bool operator==(const ReverseGeoLocation&) const = default;
};

}  // namespace tovik
