#include "tovik/model/distance_info.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<DistanceInfo> JsonCodec<DistanceInfo>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return std::make_shared<DistanceInfo>(fields.requiredNumber("line"));
}

nlohmann::json JsonCodec<DistanceInfo>::encode(const DistanceInfo& distance) {
  nlohmann::json json;
  json["line"] = distance.line;
  return json;
}

}  // namespace tovik
