#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tovik/model/location_detail.h"
#include "tovik/system/export.h"

namespace tovik {

/// The answer of the fused-location and reverse-geocoding calls, and the result the kit
/// builds from a fix when the device is offline.
/// JSON: {"id": string, "asset": string, "location": LocationDetail}.
///
/// Results are shared (`std::shared_ptr`) with the application, which may keep them; the kit
/// does not change a result once delivered. Not synchronised: one thread at a time.
class TOVIK_API LocationRes {
 public:
  /// Empty strings and a fresh default `LocationDetail` (address and place present).
  LocationRes();
  LocationRes(std::string id, std::string asset, std::shared_ptr<LocationDetail> location)
      : id(std::move(id)), asset(std::move(asset)), location(std::move(location)) {}

  std::string id;                            ///< the answer's identifier; empty in a local result
  std::string asset;                         ///< the asset it belongs to; empty in a local result
  std::shared_ptr<LocationDetail> location;  ///< the located result itself
};

}  // namespace tovik
