#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tovik/system/export.h"

namespace tovik {

/// One category of a geocoding or place-search result. JSON: {"id": string, "name": string}.
class TOVIK_API TkCategory {
 public:
  TkCategory() = default;
  TkCategory(std::string id, std::string name) : id(std::move(id)), name(std::move(name)) {}

  std::string id;    ///< the category's identifier
  std::string name;  ///< its name
};

}  // namespace tovik
