#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tovik/requests/reverse_geo_location.h"

namespace tovik {

struct Device;

/// The body of the reverse-geocoding call: a position-only track point. `asset` is the
/// device identifier as plain text. Absent members are left out of the JSON.
struct ReverseGeoRequest {
  std::string asset;
  ReverseGeoLocation location;
  std::optional<std::int64_t> timestamp;
  std::optional<std::string> id;

  /// Builds the body for a GCJ-02 coordinate, unchecked, stamped now with a fresh id.
  static ReverseGeoRequest assemble(double latitude, double longitude, const Device& device);

  nlohmann::json encode() const;
  static ReverseGeoRequest decode(const nlohmann::json& json);

  bool operator==(const ReverseGeoRequest&) const = default;
};

}  // namespace tovik
