#include "tovik/model/location_detail.h"

#include "tovik/model/json_fields.h"

namespace tovik {

LocationDetail::LocationDetail()
    : address(std::make_shared<AddressInfo>()),
      place(std::make_shared<PlaceInfo>()),
      position(std::make_shared<Position>()) {}

std::shared_ptr<LocationDetail> LocationDetail::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  const auto timestamp = fields.requiredWholeInt64("timestamp");
  auto address = fields.optionalObject<AddressInfo>("address");
  auto place = fields.optionalObject<PlaceInfo>("place");
  auto position = fields.requiredObject<Position>("position");
  return std::make_shared<LocationDetail>(timestamp, std::move(address), std::move(place), std::move(position));
}

nlohmann::json LocationDetail::encode() const {
  nlohmann::json json = {{"timestamp", timestamp}, {"position", JsonFields::encode(position)}};
  if (address) {
    json["address"] = address->encode();
  }
  if (place) {
    json["place"] = place->encode();
  }
  return json;
}

}  // namespace tovik
