#include "tovik/services/body_fields.h"

namespace tovik {

BodyFields::BodyFields(const nlohmann::json& json) : json_(json), fields_(json) {}

const nlohmann::json* BodyFields::find(std::string_view key) const {
  const auto it = json_.find(key);
  if (it == json_.end() || it->is_null()) {
    return nullptr;
  }
  return &*it;
}

// A present optional value obeys the same type rules as a required one.
std::optional<std::string> BodyFields::optionalString(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(fields_.requiredString(key));
}

std::optional<double> BodyFields::optionalNumber(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(fields_.requiredNumber(key));
}

std::optional<std::int64_t> BodyFields::optionalInt64(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(fields_.requiredWholeInt64(key));
}

}  // namespace tovik
