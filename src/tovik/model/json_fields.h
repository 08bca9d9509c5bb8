#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/json_codec.h"

namespace tovik {

/// The fields of one JSON object, read strictly: a required key must be present, non-null
/// and of the expected JSON type, an optional one may be missing or null, and nothing is
/// converted (a number is not a string). Every fault throws `DecodingError` naming the key,
/// and faults inside nested objects and arrays keep their full path. Keys the caller does
/// not ask for are ignored. Every result class decodes through these few helpers, so the
/// rules live in one place; the static writers are the matching encoders for nested values.
/// (Encoders set an object's members one by one: a braced list of pairs would first build
/// a two-element array for each member, which costs a service answer a tenth of its time.)
/// Nested result classes go through their `JsonCodec`; records held by value (the request
/// bodies) through their own `decode`.
class JsonFields {
 public:
  /// Throws `DecodingError` unless `json` is an object. Keeps a reference to it.
  explicit JsonFields(const nlohmann::json& json);
  /// A temporary document would be gone before its fields are read.
  explicit JsonFields(const nlohmann::json&& json) = delete;

  std::string requiredString(std::string_view key) const;
  /// Any JSON number; integers are widened.
  double requiredNumber(std::string_view key) const;
  /// A JSON integer within the signed 64-bit range. A double is never taken: the text it came
  /// from is gone, and a fraction may have rounded away. Documents parsed by
  /// `parseJsonDocument` hold whole numbers written as "1.7e12" or "5.0" as integers.
  std::int64_t requiredWholeInt64(std::string_view key) const;

  /// Absent when the key is missing or null; a present value obeys the required rules.
  std::optional<std::string> optionalString(std::string_view key) const;
  std::optional<double> optionalNumber(std::string_view key) const;
  std::optional<std::int64_t> optionalWholeInt64(std::string_view key) const;

  /// A nested record held by value (`T::decode` returns a T); a null value counts as missing.
  template <class T>
  T requiredRecord(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      throw DecodingError(std::string(key), "required key is missing");
    }
    return decodeWithin(key, [&] { return T::decode(*value); });
  }

  template <class T>
  std::optional<T> optionalRecord(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      return std::nullopt;
    }
    return decodeWithin(key, [&] { return std::optional<T>(T::decode(*value)); });
  }

  template <class T>
  std::shared_ptr<T> requiredObject(std::string_view key) const {
    const nlohmann::json& value = require(key, Kind::object);
    return decodeWithin(key, [&] { return JsonCodec<T>::decode(value); });
  }

  template <class T>
  std::vector<std::shared_ptr<T>> requiredArray(std::string_view key) const {
    const nlohmann::json& value = require(key, Kind::array);
    return decodeWithin(key, [&] { return decodeArray<T>(value); });
  }

  /// Null when the key is missing or null.
  template <class T>
  std::shared_ptr<T> optionalObject(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      return nullptr;
    }
    return decodeWithin(key, [&] { return JsonCodec<T>::decode(*value); });
  }

  /// Absent when the key is missing or null; an empty array gives an empty list.
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> optionalArray(std::string_view key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr) {
      return std::nullopt;
    }
    return decodeWithin(key, [&] { return decodeArray<T>(*value); });
  }

  /// Decodes every element of a JSON array as a T, in order. Throws unless `json` is an
  /// array whose every element decodes; the error path names the failing index.
  template <class T>
  static std::vector<std::shared_ptr<T>> decodeArray(const nlohmann::json& json) {
    const auto& array = arrayOf(json);
    std::vector<std::shared_ptr<T>> list;
    list.reserve(array.size());
    for (std::size_t index = 0; index < array.size(); ++index) {
      try {
        list.push_back(JsonCodec<T>::decode(array[index]));
      } catch (const DecodingError& error) {
        throw error.withinElement(index);
      }
    }
    return list;
  }

  /// A nested object's encoding; JSON null if the application left a required member null.
  template <class T>
  static nlohmann::json encode(const std::shared_ptr<T>& object) {
    return object ? JsonCodec<T>::encode(*object) : nlohmann::json(nullptr);
  }

  template <class T>
  static nlohmann::json encode(const std::vector<std::shared_ptr<T>>& list) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& element : list) {
      array.push_back(encode(element));
    }
    return array;
  }

 private:
  enum class Kind { string, number, wholeNumber, object, array };

  /// The value under `key`, or null when the key is missing or its value is null.
  const nlohmann::json* find(std::string_view key) const;
  /// The value under `key`; throws when it is missing, null or not of `kind`.
  const nlohmann::json& require(std::string_view key, Kind kind) const;
  static const nlohmann::json::array_t& arrayOf(const nlohmann::json& json);

  template <class Decode>
  static auto decodeWithin(std::string_view key, const Decode& decode) -> decltype(decode()) {
    try {
      return decode();
    } catch (const DecodingError& error) {
      throw error.within(key);
    }
  }

  const nlohmann::json::object_t& object_;
};

}  // namespace tovik
