#include "tovik/model/distance_info.h"

#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<DistanceInfo> DistanceInfo::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return std::make_shared<DistanceInfo>(fields.requiredNumber("line"));
}

nlohmann::json DistanceInfo::encode() const { return {{"line", line}}; }

}  // namespace tovik
