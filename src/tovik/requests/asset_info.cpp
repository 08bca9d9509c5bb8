#include "tovik/requests/asset_info.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json AssetInfo::encode() const {
  nlohmann::json json = {{"id", id}};
  if (manufacturer) {
    json["manufacturer"] = *manufacturer;
  }
  if (model) {
    json["model"] = *model;
  }
  if (os) {
    json["os"] = os->encode();
  }
  return json;
}

AssetInfo AssetInfo::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.id = fields.requiredString("id"),
          .manufacturer = fields.optionalString("manufacturer"),
          .model = fields.optionalString("model"),
          .os = fields.optionalRecord<OSInfo>("os")};
}

}  // namespace tovik
