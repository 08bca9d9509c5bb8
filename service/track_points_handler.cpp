#include "service/track_points_handler.h"

#include <chrono>

#include "service/datum_conversion.h"
#include "tovik/model/distance_info.h"
#include "tovik/model/place_info.h"
#include "tovik/model/position.h"
#include "tovik/model/tk_point.h"

namespace tovik::service {

namespace {

std::int64_t nowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

TrackPointsHandler::TrackPointsHandler(std::shared_ptr<const PlaceStore> store)
    : store_(store), addresses_(std::move(store)) {}

std::shared_ptr<LocationRes> TrackPointsHandler::answer(const TrackPointsRequest& request) const {
  const Coordinate given{request.latitude, request.longitude};
  const Coordinate wgs = DatumConversion::toWGS(given, request.datum);
  const Coordinate answered =
      request.datum == request.responseDatum ? given : DatumConversion::fromWGS(wgs, request.responseDatum);

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
      detail->address = addresses_.compose(nearest->place);
    }
  }
  return std::make_shared<LocationRes>(request.id, request.asset, std::move(detail));
}

}  // namespace tovik::service
