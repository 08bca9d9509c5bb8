#pragma once

#include <string>

#include "tovik/system/location.h"
#include "tovik/system/export.h"

namespace tovik {

/// How a `LocationController` reports to its owner.
class TOVIK_API LocationControllerDelegate {
 public:
  virtual ~LocationControllerDelegate() = default;
  virtual void locationSuccessWithLocation(const Location& location) = 0;
  virtual void locationFailedWithErrorMsg(const std::string& msg) = 0;
};

}  // namespace tovik
