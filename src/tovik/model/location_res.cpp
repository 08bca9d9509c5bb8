#include "tovik/model/location_res.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

LocationRes::LocationRes() : location(std::make_shared<LocationDetail>()) {}

std::shared_ptr<LocationRes> JsonCodec<LocationRes>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto id = fields.requiredString("id");
  auto asset = fields.requiredString("asset");
  auto location = fields.requiredObject<LocationDetail>("location");
  return std::make_shared<LocationRes>(std::move(id), std::move(asset), std::move(location));
}

nlohmann::json JsonCodec<LocationRes>::encode(const LocationRes& result) {
  nlohmann::json json;
  json["id"] = result.id;
  json["asset"] = result.asset;
  json["location"] = JsonFields::encode(result.location);
  return json;
}

}  // namespace tovik
