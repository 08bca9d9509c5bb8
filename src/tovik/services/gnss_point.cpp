#include "tovik/services/gnss_point.h"

#include "tovik/services/body_fields.h"

namespace tovik {

nlohmann::json GnssPoint::encode() const { return {{"longitude", longitude}, {"latitude", latitude}}; }

GnssPoint GnssPoint::decode(const nlohmann::json& json) {
  const BodyFields fields(json);
  return {.longitude = fields.requiredNumber("longitude"), .latitude = fields.requiredNumber("latitude")};
}

}  // namespace tovik
