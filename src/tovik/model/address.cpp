#include "tovik/model/address.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<Address> JsonCodec<Address>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto type = fields.requiredString("type");
  auto name = fields.requiredString("name");
  auto code = fields.requiredString("code");
  return std::make_shared<Address>(std::move(type), std::move(name), std::move(code));
}

nlohmann::json JsonCodec<Address>::encode(const Address& address) {
  nlohmann::json json;
  json["type"] = address.type;
  json["name"] = address.name;
  json["code"] = address.code;
  return json;
}

}  // namespace tovik
