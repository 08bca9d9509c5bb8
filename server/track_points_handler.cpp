#include "server/track_points_handler.h"

#include <chrono>

#include "tovik/model/distance_info.h"
#include "tovik/model/place_info.h"
#include "tovik/model/position.h"
#include "tovik/model/tk_point.h"

namespace tovik::server {

namespace {

std::int64_t nowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

TrackPointsHandler::TrackPointsHandler(std::shared_ptr<const PlaceStore> store)
    : store_(store), addresses_(std::move(store)) {}

std::shared_ptr<AddressInfo> TrackPointsHandler::address(const Coordinate& wgs, const PlaceAtDistance& nearest) const {
  if (!store_->hasBoundaries()) {
    return addresses_.compose(nearest.place);
  }
  const auto country = store_->countryAt(wgs.latitude, wgs.longitude);
  if (!country) {
    return addresses_.composeAt("", &nearest.place);
  }
  if (nearest.place.country == *country) {
    return addresses_.compose(nearest.place);
  }
  // A dependency that the place list files under a code of its own but the boundaries
  // count as part of its country (French Guiana in France): the nearest place gives the
  // levels below the country.
  if (!store_->hasBoundary(nearest.place.country)) {
    return addresses_.composeAt(*country, &nearest.place);
  }
  // Across a border from the nearest place: the levels below the country come from the
  // country's own nearest place, if it has one not much farther away.
  const auto inCountry = store_->nearestIn(wgs.latitude, wgs.longitude, *country, nearest.distance + kFarther);
  return addresses_.composeAt(*country, inCountry ? &inCountry->place : nullptr);
}

std::shared_ptr<LocationRes> TrackPointsHandler::answer(const TrackPointsRequest& request) const {
  const Coordinate given{request.latitude, request.longitude};
  const Coordinate wgs = convertDatum(given, request.datum, Datum::wgs84);
  const Coordinate answered =
      request.datum == request.responseDatum ? given : convertDatum(wgs, Datum::wgs84, request.responseDatum);

  auto detail = std::make_shared<LocationDetail>();
  detail->timestamp = nowMilliseconds();
  detail->position = Position::create(TkPoint::create(answered.longitude, answered.latitude));
  detail->address = nullptr;
  detail->place = nullptr;

  if (const auto nearest = store_->nearest(wgs.latitude, wgs.longitude)) {
    detail->place = std::make_shared<PlaceInfo>("populated_place", nearest->place.name,
                                                std::make_shared<DistanceInfo>(nearest->distance));
    const bool wantAddress = request.needAddress.value_or(!request.isTrack);
    if (wantAddress) {
      detail->address = address(wgs, *nearest);
    }
  }
  return std::make_shared<LocationRes>(request.id, request.asset, std::move(detail));
}

}  // namespace tovik::server
