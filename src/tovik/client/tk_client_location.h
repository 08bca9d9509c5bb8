#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tovik/client/location_delegate.h"
#include "tovik/location/location_controller_delegate.h"
#include "tovik/platform/location.h"

namespace tovik {

class LocationController;
class Timer;

/// The one object an application creates to use the kit: configuration, consent and
/// keys, the location session and the five service calls. Results and errors reach the
/// application through `callDelegate`, on the main thread. Configure and call it from
/// the main thread.
class TkClientLocation : public LocationControllerDelegate,
                         public std::enable_shared_from_this<TkClientLocation> {
 public:
  /// The only constructor: sets the defaults, creates and sets up the location
  /// controller (which asks for when-in-use authorisation) and prints the version banner.
  static std::shared_ptr<TkClientLocation> create(std::shared_ptr<LocationDelegate> delegate);
  /// Ends a running timer and the controller's updates.
  ~TkClientLocation() override;

  // Plain configuration, no side effects.
  std::shared_ptr<LocationDelegate> callDelegate;
  std::optional<std::string> accesskey;
  std::optional<std::string> poiKey;
  double interval = 1.0;
  bool isLocateOnce = true;
  bool isFastLocation = false;
  bool isAgree = false;
  /// Base address of the location service; plain http is accepted for loopback hosts only.
  std::string serviceURL;

  void initKey(const std::string& accesskey);
  void setPoiKey(const std::string& poikey);
  void setAgreePrivacy(bool isAgree);
  void setLocationDelegate(std::shared_ptr<LocationDelegate> delegate);
  /// Current time in milliseconds since the Unix epoch.
  std::int64_t milliStamp() const;

  static bool isLogEnabled();
  static void setIsLogEnabled(bool enabled);

  /// True when a service call may proceed; otherwise logs and reports why.
  bool checkPrivacyAndKey();

  // The location session.
  /// One fix (`isLocateOnce`, fast when `isFastLocation`) or a continuous series, one
  /// result per `interval` seconds. Does nothing while a session runs.
  void startLocation();
  /// Sets `isLocateOnce` and `isFastLocation`, which stay set, then `startLocation()`.
  void startFastLocation();
  /// Ends the session: its timer and the controller's updates, also those a failure left
  /// running. Does nothing when nothing runs.
  void stopLocation();

  // The service calls.
  void getTrackLocation(const Location& location);
  void getReverseCode(double latitude, double longitude);
  void getGeocCode(const std::string& address, const std::string& city);
  void poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                    std::int32_t page_index, std::int32_t page_size);
  void poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                       const std::string& category, const std::string& orderby, std::int32_t page_index,
                       std::int32_t page_size);

  // LocationControllerDelegate
  void locationSuccessWithLocation(const Location& location) override;
  void locationFailedWithErrorMsg(const std::string& msg) override;

  // Session state, readable for tests and tools.
  bool isLocating() const { return isLocating_; }
  const std::shared_ptr<LocationController>& locateDelegate() const { return locateDelegate_; }
  bool hasTimerSchedule() const { return timerSchedule_ != nullptr; }
  const std::shared_ptr<Timer>& timerSchedule() const { return timerSchedule_; }

 private:
  struct PrivateTag {};

 public:
  explicit TkClientLocation(PrivateTag);

 private:
  void handleLocation(const std::optional<Location>& location);
  /// Logs `msg` and sends it bare to the delegate, if any.
  void reportError(const std::string& msg);
  void scheduleTimer();

  std::shared_ptr<Timer> timerSchedule_;
  bool isLocating_ = false;
  std::shared_ptr<LocationController> locateDelegate_;
};

}  // namespace tovik
