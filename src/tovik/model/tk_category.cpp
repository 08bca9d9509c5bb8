#include "tovik/model/tk_category.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<TkCategory> JsonCodec<TkCategory>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto id = fields.requiredString("id");
  auto name = fields.requiredString("name");
  return std::make_shared<TkCategory>(std::move(id), std::move(name));
}

nlohmann::json JsonCodec<TkCategory>::encode(const TkCategory& category) {
  nlohmann::json json;
  json["id"] = category.id;
  json["name"] = category.name;
  return json;
}

}  // namespace tovik
