#pragma once

#include <nlohmann/json.hpp>

#include "tovik/requests/gnss_data.h"

namespace tovik {

/// The fix of a track point.
struct TrackLocation {
  GnssData gnss;

  nlohmann::json encode() const;
  static TrackLocation decode(const nlohmann::json& json);

  bool operator==(const TrackLocation&) const = default;
};

}  // namespace tovik
