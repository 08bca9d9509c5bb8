#include "tovik/requests/gnss_data.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json GnssData::encode() const {
  nlohmann::json json = {{"point", point.encode()}, {"accuracy", accuracy}};
  if (altitude) {
    json["altitude"] = *altitude;
  }
  if (verticalAccuracy) {
    json["verticalAccuracy"] = *verticalAccuracy;
  }
  if (velocity) {
    json["velocity"] = *velocity;
  }
  return json;
}

GnssData GnssData::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.point = fields.requiredRecord<GnssPoint>("point"),
          .accuracy = fields.requiredNumber("accuracy"),
          .altitude = fields.optionalNumber("altitude"),
          .verticalAccuracy = fields.optionalNumber("verticalAccuracy"),
          .velocity = fields.optionalNumber("velocity")};
}

}  // namespace tovik
