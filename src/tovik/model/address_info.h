#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tovik/model/address.h"
#include "tovik/system/export.h"

namespace tovik {

/// An address: its full name and its levels in the service's order.
/// JSON: {"name": string, "context": [Address, ...]} ("context" may be empty, never missing).
class TOVIK_API AddressInfo {
 public:
  AddressInfo() = default;
  AddressInfo(std::string name, std::vector<std::shared_ptr<Address>> context)
      : name(std::move(name)), context(std::move(context)) {}

  std::string name;                               ///< the full address as one text
  std::vector<std::shared_ptr<Address>> context;  ///< its levels, widest first
};

}  // namespace tovik
