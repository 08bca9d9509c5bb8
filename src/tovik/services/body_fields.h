#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/json_fields.h"

namespace tovik {

/// The fields of one request-body object, read back strictly: the scalar rules are those of
/// the result model (`JsonFields`), plus optional scalars (missing or null means absent) and
/// nested records held by value. Faults throw `DecodingError` with the full key path.
class BodyFields {
 public:
  /// Throws `DecodingError` unless `json` is an object. Keeps a reference to it.
  explicit BodyFields(const nlohmann::json& json);

  std::string requiredString(std::string_view key) const { return fields_.requiredString(key); }
  double requiredNumber(std::string_view key) const { return fields_.requiredNumber(key); }
  std::int64_t requiredInt64(std::string_view key) const { return fields_.requiredWholeInt64(key); }

  std::optional<std::string> optionalString(std::string_view key) const;
  std::optional<double> optionalNumber(std::string_view key) const;
  std::optional<std::int64_t> optionalInt64(std::string_view key) const;

  template <class T>
  T requiredRecord(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      throw DecodingError(std::string(key), "required key is missing");
    }
    return decodeWithin<T>(key, *value);
  }

  template <class T>
  std::optional<T> optionalRecord(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      return std::nullopt;
    }
    return decodeWithin<T>(key, *value);
  }

 private:
  /// The value under `key`, or null when the key is missing or its value is null.
  const nlohmann::json* find(std::string_view key) const;

  template <class T>
  static T decodeWithin(std::string_view key, const nlohmann::json& value) {
    try {
      return T::decode(value);
    } catch (const DecodingError& error) {
      throw error.within(key);
    }
  }

  const nlohmann::json& json_;
  JsonFields fields_;
};

}  // namespace tovik
