#include "tovik/model/address_info.h"

#include "tovik/model/json_fields.h"

namespace tovik {

std::shared_ptr<AddressInfo> AddressInfo::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  auto name = fields.requiredString("name");
  auto context = fields.requiredArray<Address>("context");
  return std::make_shared<AddressInfo>(std::move(name), std::move(context));
}

nlohmann::json AddressInfo::encode() const { return {{"name", name}, {"context", JsonFields::encode(context)}}; }

}  // namespace tovik
