#include "tovik/services/os_info.h"

#include "tovik/services/body_fields.h"

namespace tovik {

nlohmann::json OSInfo::encode() const { return {{"type", type}, {"version", version}}; }

OSInfo OSInfo::decode(const nlohmann::json& json) {
  const BodyFields fields(json);
  return {.type = fields.requiredString("type"), .version = fields.requiredString("version")};
}

}  // namespace tovik
