#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tovik/location/location_controller_delegate.h"
#include "tovik/providers/location_manager.h"
#include "tovik/runloop/timer.h"

namespace tovik {

/// The kit's only user of the location manager: checks the host's declared purposes and
/// the authorisation, runs single, fast and continuous requests, validates fixes, picks
/// the best fix of a 0.2 s fast window, and reports to its owner (held weakly).
/// Create with `std::make_shared`; use from the main thread.
class LocationController : public LocationManagerDelegate,
                           public std::enable_shared_from_this<LocationController> {
 public:
  static constexpr double kFastSampleWindow = 0.2;
  static constexpr double kDistanceFilter = 3.0;

  LocationController();
  ~LocationController() override;

  std::weak_ptr<LocationControllerDelegate> delegate;

  void initOption();
  void startContinuousLocation();
  void requestSingleLocation(bool fast);
  void stopUpdating();
  void finishFastSampling();

  /// The last fix accepted (coordinate 0, 0 until one is).
  const Location& locationPoint() const { return locationPoint_; }
  bool isContinuousLocation() const { return isContinuousLocation_; }
  bool isFastOnceLocation() const { return isFastOnceLocation_; }
  const std::vector<Location>& fastBuffer() const { return fastBuffer_; }
  bool hasFastSampleTimer() const { return fastSampleTimer_ != nullptr; }
  /// Whether the manager is delivering updates (continuous or fast) right now.
  bool isUpdating() const { return isUpdating_; }
  /// The manager, for inspection; none before anything touched it.
  const LocationManager* manager() const { return locationManager_.get(); }

  // LocationManagerDelegate
  void didUpdateLocations(LocationManager& manager, const std::vector<Location>& locations) override;
  void didFailWithError(LocationManager& manager, const Error& error) override;
  /// Passed on to the owner as it comes.
  void didChangeAvailability(LocationManager& manager, const LocationAvailability& availability) override;

 private:
  LocationManager& locationManager();
  /// The purpose-string and authorisation checks that open every request; reports the
  /// first one that fails.
  bool passesRequestChecks();
  void reportFailure(const std::string& msg, int code, std::string detail);

  std::unique_ptr<LocationManager> locationManager_;
  Location locationPoint_;
  bool isContinuousLocation_ = false;
  bool isFastOnceLocation_ = false;
  bool isUpdating_ = false;
  std::vector<Location> fastBuffer_;
  std::shared_ptr<Timer> fastSampleTimer_;
};

}  // namespace tovik
