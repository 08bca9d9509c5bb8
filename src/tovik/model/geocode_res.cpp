#include "tovik/model/geocode_res.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

GeocodeRes::GeocodeRes() : address(std::make_shared<AddressInfo>()) {}

std::shared_ptr<GeocodeRes> JsonCodec<GeocodeRes>::decode(const nlohmann::json& json) {
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

nlohmann::json JsonCodec<GeocodeRes>::encode(const GeocodeRes& result) {
  nlohmann::json json;
  json["id"] = result.id;
  json["geoPoint"] = result.geoPoint;
  json["type"] = result.type;
  json["name"] = result.name;
  json["code"] = result.code;
  json["address"] = JsonFields::encode(result.address);
  json["relevance"] = result.relevance;
  json["distance"] = result.distance;
  if (result.categories) {
    json["categories"] = JsonFields::encode(*result.categories);
  }
  return json;
}

std::vector<std::shared_ptr<GeocodeRes>> decodeGeocodeList(const nlohmann::json& json) {
  return JsonFields::decodeArray<GeocodeRes>(json);
}

nlohmann::json encodeGeocodeList(const std::vector<std::shared_ptr<GeocodeRes>>& list) {
  return JsonFields::encode(list);
}

}  // namespace tovik
