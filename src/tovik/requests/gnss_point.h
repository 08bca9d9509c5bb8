#pragma once

#include <nlohmann/json.hpp>

namespace tovik {

/// A position in a request body, longitude first: degrees east, degrees north, as given.
struct GnssPoint {
  double longitude = 0.0;
  double latitude = 0.0;

  nlohmann::json encode() const;
  /// Throws `DecodingError` unless both keys hold numbers.
  static GnssPoint decode(const nlohmann::json& json);

  bool operator==(const GnssPoint&) const = default;
};

}  // namespace tovik
