#include "tovik/model/address_info.h"

#include "tovik/model/json_codec.h"
#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<AddressInfo> JsonCodec<AddressInfo>::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto name = fields.requiredString("name");
  auto context = fields.requiredArray<Address>("context");
  return std::make_shared<AddressInfo>(std::move(name), std::move(context));
}

nlohmann::json JsonCodec<AddressInfo>::encode(const AddressInfo& info) {
  nlohmann::json json;
  json["name"] = info.name;
  json["context"] = JsonFields::encode(info.context);
  return json;
}

}  // namespace tovik
