#include "tovik/requests/reverse_geo_request.h"

#include "tovik/system/device.h"
#include "tovik/model/json_fields.h"
#include "tovik/requests/request_stamp.h"

namespace tovik {

ReverseGeoRequest ReverseGeoRequest::assemble(double latitude, double longitude, const Device& device) {
  return {.asset = RequestStamp::deviceId(device),
          .location = {.position = {.point = {.longitude = longitude, .latitude = latitude},
                                    .spatialReference = "gcj02"}},
          .timestamp = RequestStamp::milliseconds(),
          .id = RequestStamp::requestId()};
}

nlohmann::json ReverseGeoRequest::encode() const {
  nlohmann::json json = {{"asset", asset}, {"location", location.encode()}};
  if (timestamp) {
    json["timestamp"] = *timestamp;
  }
  if (id) {
    json["id"] = *id;
  }
  return json;
}

ReverseGeoRequest ReverseGeoRequest::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.asset = fields.requiredString("asset"),
          .location = fields.requiredRecord<ReverseGeoLocation>("location"),
          .timestamp = fields.optionalWholeInt64("timestamp"),
          .id = fields.optionalString("id")};
}

}  // namespace tovik
