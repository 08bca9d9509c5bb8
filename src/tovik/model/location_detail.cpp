#include "tovik/model/location_detail.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

LocationDetail::LocationDetail()
    : address(std::make_shared<AddressInfo>()),
      place(std::make_shared<PlaceInfo>()),
      position(std::make_shared<Position>()) {}

std::shared_ptr<LocationDetail> JsonCodec<LocationDetail>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  const auto timestamp = fields.requiredWholeInt64("timestamp");
  auto address = fields.optionalObject<AddressInfo>("address");
  auto place = fields.optionalObject<PlaceInfo>("place");
  auto position = fields.requiredObject<Position>("position");
  return std::make_shared<LocationDetail>(timestamp, std::move(address), std::move(place), std::move(position));
}

nlohmann::json JsonCodec<LocationDetail>::encode(const LocationDetail& detail) {
  nlohmann::json json;
  json["timestamp"] = detail.timestamp;
  json["position"] = JsonFields::encode(detail.position);
  if (detail.address) {
    json["address"] = JsonCodec<AddressInfo>::encode(*detail.address);
  }
  if (detail.place) {
    json["place"] = JsonCodec<PlaceInfo>::encode(*detail.place);
  }
  return json;
}

}  // namespace tovik
