#include "tovik/model/json_fields.h"

#include <cmath>
#include <limits>

namespace tovik {
namespace {

std::string found(const nlohmann::json& value) { return std::string(", found ") + value.type_name(); }

DecodingError wrongType(std::string_view key, const char* expected, const nlohmann::json& value) {
  return DecodingError(std::string(key), std::string("expected ") + expected + found(value));
}

}  // namespace

JsonFields::JsonFields(const nlohmann::json& json)
    : object_([&]() -> const nlohmann::json::object_t& {
        if (!json.is_object()) {
          throw DecodingError("", "expected an object" + found(json));
        }
        return *json.get_ptr<const nlohmann::json::object_t*>();
      }()) {}

const nlohmann::json* JsonFields::find(std::string_view key) const {
  const auto it = object_.find(key);
  if (it == object_.end() || it->second.is_null()) {
    return nullptr;
  }
  return &it->second;
}

const nlohmann::json& JsonFields::require(std::string_view key, Kind kind) const {
  const auto it = object_.find(key);
  if (it == object_.end()) {
    throw DecodingError(std::string(key), "required key is missing");
  }
  const nlohmann::json& value = it->second;
  switch (kind) {
    case Kind::string:
      if (!value.is_string()) throw wrongType(key, "a string", value);
      break;
    case Kind::number:
      if (!value.is_number()) throw wrongType(key, "a number", value);
      break;
    case Kind::wholeNumber:
      if (!value.is_number()) throw wrongType(key, "a whole number", value);
      break;
    case Kind::object:
      if (!value.is_object()) throw wrongType(key, "an object", value);
      break;
    case Kind::array:
      if (!value.is_array()) throw wrongType(key, "an array", value);
      break;
  }
  return value;
}

const nlohmann::json::array_t& JsonFields::arrayOf(const nlohmann::json& json) {
  if (!json.is_array()) {
    throw DecodingError("", "expected an array" + found(json));
  }
  return *json.get_ptr<const nlohmann::json::array_t*>();
}

std::string JsonFields::requiredString(std::string_view key) const {
  return *require(key, Kind::string).get_ptr<const std::string*>();
}

double JsonFields::requiredNumber(std::string_view key) const { return require(key, Kind::number).get<double>(); }

std::int64_t JsonFields::requiredWholeInt64(std::string_view key) const {
  const nlohmann::json& value = require(key, Kind::wholeNumber);
  if (value.is_number_unsigned()) {
    const auto whole = value.get<std::uint64_t>();
    if (whole <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(whole);
    }
  } else if (value.is_number_integer()) {
    return value.get<std::int64_t>();
  } else if (const double number = value.get<double>(); std::trunc(number) != number) {
    throw DecodingError(std::string(key), "expected a whole number, found " + value.dump());
  } else {
    // A double that looks whole may be the rounding of a fraction (1700000000000.0000001) or
    // of a number out of range; parseJsonDocument already stored every exact one as an integer.
    throw DecodingError(std::string(key),
                        "expected a whole number within the signed 64-bit range, found about " + value.dump());
  }
  throw DecodingError(std::string(key),
                      "expected a whole number within the signed 64-bit range, found " + value.dump());
}

std::optional<std::string> JsonFields::optionalString(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(requiredString(key));
}

std::optional<double> JsonFields::optionalNumber(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(requiredNumber(key));
}

std::optional<std::int64_t> JsonFields::optionalWholeInt64(std::string_view key) const {
  return find(key) == nullptr ? std::nullopt : std::optional(requiredWholeInt64(key));
}

}  // namespace tovik
