#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "tovik/requests/asset_info.h"
#include "tovik/requests/track_location.h"

namespace tovik {

struct Device;
struct Location;

/// The body of the fused-location call: one fix with the device that reports it.
struct TrackRequest {
  std::int64_t timestamp = 0;
  std::string id;
  AssetInfo asset;
  TrackLocation location;

  /// Builds the body for `fix` as reported by `device`, stamped now with a fresh id.
  /// Unknown fix values follow the platform conventions: a horizontal accuracy that is not
  /// positive is sent as 0, a vertical accuracy that is not positive and a negative or
  /// unknown speed are left out; the altitude is always sent.
  static TrackRequest assemble(const Location& fix, const Device& device);

  nlohmann::json encode() const;
  static TrackRequest decode(const nlohmann::json& json);

  bool operator==(const TrackRequest&) const = default;
};

}  // namespace tovik
