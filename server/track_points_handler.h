#pragma once

#include <memory>

#include "server/address_composer.h"
#include "server/parsed_requests.h"
#include "server/place_store.h"
#include "tovik/system/location.h"
#include "tovik/model/location_res.h"

namespace tovik::server {

/// Answers the track-points path, for fused location and reverse geocoding alike: the
/// point in the requested datum, the nearest populated place with its distance in metres,
/// and the address of that place.
///
/// The address is sent when "needAddress" is "true"; when the item is not sent, a fused-
/// location call gets none and a reverse-geocoding call gets one (an address is what
/// reverse geocoding is for).
///
/// The country of the address is the one whose boundary holds the point (none at sea,
/// where the context starts below the country); the levels below it come from the nearest
/// place of that country. The place block always names the nearest place of all.
class TrackPointsHandler {
 public:
  explicit TrackPointsHandler(std::shared_ptr<const PlaceStore> store);

  /// How much farther than the nearest place of all a place of the point's own country
  /// may lie and still give the address its region and city.
  static constexpr double kFarther = 100000.0;

  std::shared_ptr<LocationRes> answer(const TrackPointsRequest& request) const;

 private:
  std::shared_ptr<AddressInfo> address(const Coordinate& wgs, const PlaceAtDistance& nearest) const;

  std::shared_ptr<const PlaceStore> store_;
  AddressComposer addresses_;
};

}  // namespace tovik::server
