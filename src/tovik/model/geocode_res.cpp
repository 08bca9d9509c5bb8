#include "tovik/model/geocode_res.h"

#include "tovik/model/json_fields.h"

namespace tovik {

GeocodeRes::GeocodeRes() : address(std::make_shared<AddressInfo>()) {}

std::shared_ptr<GeocodeRes> GeocodeRes::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto result = std::make_shared<GeocodeRes>();
  result->id = fields.requiredString("id");
  result->geoPoint = fields.requiredString("geoPoint");
  result->type = fields.requiredString("type");
  result->name = fields.requiredString("name");
  result->code = fields.requiredString("code");
  result->categories = fields.optionalArray<TkCategory>("categories");
  result->address = fields.requiredObject<AddressInfo>("address");
  result->relevance = fields.requiredNumber("relevance");
  result->distance = fields.requiredNumber("distance");
  return result;
}

nlohmann::json GeocodeRes::encode() const {
  nlohmann::json json = {{"id", id},
                         {"geoPoint", geoPoint},
                         {"type", type},
                         {"name", name},
                         {"code", code},
                         {"address", JsonFields::encode(address)},
                         {"relevance", relevance},
                         {"distance", distance}};
  if (categories) {
    json["categories"] = JsonFields::encode(*categories);
  }
  return json;
}

std::vector<std::shared_ptr<GeocodeRes>> decodeGeocodeList(const nlohmann::json& json) {
  return JsonFields::decodeArray<GeocodeRes>(json);
}

}  // namespace tovik
