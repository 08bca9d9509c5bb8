#include "tovik/requests/reverse_geo_location.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json ReverseGeoLocation::encode() const { return {{"position", position.encode()}}; }

ReverseGeoLocation ReverseGeoLocation::decode(const nlohmann::json& json) {
  return {.position = JsonFields(json).requiredRecord<ReverseGeoPosition>("position")};
}

}  // namespace tovik
