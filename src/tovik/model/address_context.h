#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tovik/system/export.h"

namespace tovik {

/// One address level in the same form as `Address`; a public class of its own that no
/// other result refers to. JSON: {"type": string, "name": string, "code": string}.
class TOVIK_API AddressContext {
 public:
  AddressContext() = default;
  AddressContext(std::string type, std::string name, std::string code)
      : type(std::move(type)), name(std::move(name)), code(std::move(code)) {}

  std::string type;  ///< the level's kind
  std::string name;  ///< its name
  std::string code;  ///< its administrative code
};

}  // namespace tovik
