#pragma once

#include <memory>

#include "service/address_composer.h"
#include "service/place_store.h"
#include "service/service_requests.h"
#include "tovik/model/location_res.h"

namespace tovik::service {

/// Answers the track-points path, for fused location and reverse geocoding alike: the
/// point in the requested datum, the nearest populated place with its distance in metres,
/// and the address of that place.
///
/// The address is sent when "needAddress" is "true"; when the item is not sent, a fused-
/// location call gets none and a reverse-geocoding call gets one (an address is what
/// reverse geocoding is for).
class TrackPointsHandler {
 public:
  explicit TrackPointsHandler(std::shared_ptr<const PlaceStore> store);

  std::shared_ptr<LocationRes> answer(const TrackPointsRequest& request) const;

 private:
  std::shared_ptr<const PlaceStore> store_;
  AddressComposer addresses_;
};

}  // namespace tovik::service
