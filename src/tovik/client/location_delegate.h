#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tovik {

class LocationRes;
class GeocodeRes;

/// What the application implements to receive results and errors, on the main thread.
/// The optional members have empty default bodies: a delegate that does not override
/// one does not receive that result.
class LocationDelegate {
 public:
  virtual ~LocationDelegate() = default;

  virtual void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) = 0;
  virtual void onLocationErrorWithMsg(const std::string& msg) = 0;

  virtual void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location);
  virtual void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result);
  virtual void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result);
};

}  // namespace tovik
