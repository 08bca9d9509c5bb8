#include "tovik/model/tk_point.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<TkPoint> TkPoint::create(double longitude, double latitude) {
  return std::make_shared<TkPoint>(longitude, latitude);
}

std::shared_ptr<TkPoint> JsonCodec<TkPoint>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  const double longitude = fields.requiredNumber("longitude");
  const double latitude = fields.requiredNumber("latitude");
  return std::make_shared<TkPoint>(longitude, latitude);
}

nlohmann::json JsonCodec<TkPoint>::encode(const TkPoint& point) {
  nlohmann::json json;
  json["longitude"] = point.longitude;
  json["latitude"] = point.latitude;
  return json;
}

}  // namespace tovik
