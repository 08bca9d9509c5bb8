#include "tovik/requests/reverse_geo_position.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json ReverseGeoPosition::encode() const {
  nlohmann::json json = {{"point", point.encode()}};
  if (spatialReference) {
    json["spatialReference"] = *spatialReference;
  }
  return json;
}

ReverseGeoPosition ReverseGeoPosition::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.point = fields.requiredRecord<GnssPoint>("point"),
          .spatialReference = fields.optionalString("spatialReference")};
}

}  // namespace tovik
