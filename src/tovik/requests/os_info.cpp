#include "tovik/requests/os_info.h"

#include "tovik/model/json_fields.h"

namespace tovik {

nlohmann::json OSInfo::encode() const { return {{"type", type}, {"version", version}}; }

OSInfo OSInfo::decode(const nlohmann::json& json) {
  const JsonFields fields(json);
  return {.type = fields.requiredString("type"), .version = fields.requiredString("version")};
}

}  // namespace tovik
