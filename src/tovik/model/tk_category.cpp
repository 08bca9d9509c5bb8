#include "tovik/model/tk_category.h"

#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<TkCategory> TkCategory::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto id = fields.requiredString("id");
  auto name = fields.requiredString("name");
  return std::make_shared<TkCategory>(std::move(id), std::move(name));
}

nlohmann::json TkCategory::encode() const { return {{"id", id}, {"name", name}}; }

}  // namespace tovik
