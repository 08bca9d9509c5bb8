#pragma once

#include <memory>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>
#include "tovik/system/export.h"

namespace tovik {

/// One category of a geocoding or place-search result. JSON: {"id": string, "name": string}.
class TOVIK_API TkCategory {
 public:
  TkCategory() = default;
  TkCategory(std::string id, std::string name) : id(std::move(id)), name(std::move(name)) {}

  /// Throws `DecodingError`; never returns a partly filled object.
  static std::shared_ptr<TkCategory> decode(const nlohmann::json& json);
  nlohmann::json encode() const;

  std::string id;    ///< the category's identifier
  std::string name;  ///< its name
};

}  // namespace tovik
