#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tovik/system/export.h"

namespace tovik {

/// One level of an address, from the widest (country) to the narrowest.
/// JSON: {"type": string, "name": string, "code": string}.
class TOVIK_API Address {
 public:
  Address() = default;
  Address(std::string type, std::string name, std::string code)
      : type(std::move(type)), name(std::move(name)), code(std::move(code)) {}

  std::string type;  ///< the level's kind (for example city, district)
  std::string name;  ///< its name
  std::string code;  ///< its administrative code
};

}  // namespace tovik
