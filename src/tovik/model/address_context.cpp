#include "tovik/model/address_context.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<AddressContext> JsonCodec<AddressContext>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto type = fields.requiredString("type");
  auto name = fields.requiredString("name");
  auto code = fields.requiredString("code");
  return std::make_shared<AddressContext>(std::move(type), std::move(name), std::move(code));
}

nlohmann::json JsonCodec<AddressContext>::encode(const AddressContext& context) {
  nlohmann::json json;
  json["type"] = context.type;
  json["name"] = context.name;
  json["code"] = context.code;
  return json;
}

}  // namespace tovik
