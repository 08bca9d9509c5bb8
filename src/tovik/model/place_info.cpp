#include "tovik/model/place_info.h"

#include "tovik/model/json_fields.h"

namespace tovik {

PlaceInfo::PlaceInfo() : distance(std::make_shared<DistanceInfo>()) {}

std::shared_ptr<PlaceInfo> PlaceInfo::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto type = fields.requiredString("type");
  auto name = fields.requiredString("name");
  auto distance = fields.requiredObject<DistanceInfo>("distance");
  return std::make_shared<PlaceInfo>(std::move(type), std::move(name), std::move(distance));
}

nlohmann::json PlaceInfo::encode() const {
  return {{"type", type}, {"name", name}, {"distance", JsonFields::encode(distance)}};
}

}  // namespace tovik
