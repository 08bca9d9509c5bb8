#pragma once

#include <memory>
#include <string>
#include <vector>
#include "tovik/system/export.h"
#include "tovik/system/location.h"
#include "tovik/system/location_availability.h"
#include "tovik/system/tk_error.h"

namespace tovik {

class LocationRes;
class GeocodeRes;

/// What the application implements to receive results and errors, on the main thread.
/// The optional members have empty default bodies: a delegate that does not override
/// one does not receive that result. The facade holds its delegate strongly
/// (`TkClientLocation::callDelegate`); results are shared with the delegate, which may keep
/// them. A member may replace the delegate or release the facade.
class TOVIK_API LocationDelegate {
 public:
  virtual ~LocationDelegate() = default;

  /// A located result: the fused-location service's answer to a session's fix or to
  /// `getTrackLocation`, or the local GCJ-02 result when the device is offline. Required.
  virtual void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) = 0;
  /// Every failure: consent or key missing (sent before the failing call returns), a location
  /// failure ("定位失败：" and the reason) or a service error. Required.
  virtual void onLocationErrorWithMsg(const std::string& msg) = 0;

  /// The answer of `TkClientLocation::getReverseCode`. Optional.
  virtual void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location);
  /// The answer of `TkClientLocation::getGeocCode`, in the service's order. Optional.
  virtual void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result);
  /// The answer of `TkClientLocation::poiKeySearch` or `poiNearbySearch`. Optional.
  virtual void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result);
  /// Every fix a session accepts from the location source, before anything is sent: the
  /// device's own WGS-84 position with its accuracy, altitude, speed, course, time and source.
  /// Heard even when the service then fails. Optional.
  virtual void onReceivedRawLocation(const Location& location);
  /// Every failure as a typed value, right after `onLocationErrorWithMsg` heard its text.
  /// Optional.
  virtual void onLocationErrorWithError(const TkError& error);
  /// While a session runs: the location source stopped delivering (silent for twice the
  /// interval its fixes keep, or failed; a failure's error follows) or delivers again (before
  /// the fix that shows it). Each change once. Optional.
  virtual void onLocationAvailabilityChanged(const LocationAvailability& availability);
};

}  // namespace tovik
