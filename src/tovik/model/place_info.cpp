#include "tovik/model/place_info.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

PlaceInfo::PlaceInfo() : distance(std::make_shared<DistanceInfo>()) {}

std::shared_ptr<PlaceInfo> JsonCodec<PlaceInfo>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto type = fields.requiredString("type");
  auto name = fields.requiredString("name");
  auto distance = fields.requiredObject<DistanceInfo>("distance");
  return std::make_shared<PlaceInfo>(std::move(type), std::move(name), std::move(distance));
}

nlohmann::json JsonCodec<PlaceInfo>::encode(const PlaceInfo& place) {
  nlohmann::json json;
  json["type"] = place.type;
  json["name"] = place.name;
  json["distance"] = JsonFields::encode(place.distance);
  return json;
}

}  // namespace tovik
