#include "tovik/requests/gnss_point.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json GnssPoint::encode() const { return {{"longitude", longitude}, {"latitude", latitude}}; }

GnssPoint GnssPoint::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.longitude = fields.requiredNumber("longitude"), .latitude = fields.requiredNumber("latitude")};
}

}  // namespace tovik
