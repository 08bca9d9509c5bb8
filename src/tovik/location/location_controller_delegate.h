#pragma once

#include <string>

#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"
#include "tovik/system/tk_error.h"
#include "tovik/system/export.h"

namespace tovik {

/// How a `LocationController` reports to its owner.
class TOVIK_API LocationControllerDelegate {
 public:
  virtual ~LocationControllerDelegate() = default;
  virtual void locationSuccessWithLocation(const Location& location) = 0;
  virtual void locationFailedWithErrorMsg(const std::string& msg) = 0;
  /// Every fix the controller accepts, as the source gave it, before anything is made of it.
  virtual void locationAccepted(const Location& location) { (void)location; }
  /// A failure with its kind (domain location, call location); by default only its text goes
  /// on, to `locationFailedWithErrorMsg`.
  virtual void locationFailedWithError(const TkError& error) { locationFailedWithErrorMsg(error.message); }
  /// The location source stopped delivering, or delivers again. By default ignored.
  virtual void locationAvailabilityChanged(const LocationAvailability& availability) { (void)availability; }
};

}  // namespace tovik
