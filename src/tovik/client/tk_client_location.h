#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tovik/client/location_delegate.h"
#include "tovik/client/service_policy.h"
#include "tovik/coord/datum.h"
#include "tovik/coord/region.h"
#include "tovik/location/location_controller_delegate.h"
#include "tovik/system/log_handler.h"
#include "tovik/system/location.h"
#include "tovik/system/export.h"

namespace tovik {

class LocationController;
class Timer;
struct CallState;

/// The one object an application creates to use the kit: configuration, consent and
/// keys, the location session and the five service calls. Results and errors reach the
/// application through `callDelegate`, on the main thread. Configure and call it from
/// the main thread.
class TOVIK_API TkClientLocation : public LocationControllerDelegate,
                         public std::enable_shared_from_this<TkClientLocation> {
 public:
  /// The only constructor: sets the defaults, creates and sets up the location
  /// controller (which asks for when-in-use authorisation) and prints the version banner.
  static std::shared_ptr<TkClientLocation> create(std::shared_ptr<LocationDelegate> delegate);
  /// Ends a running timer and the controller's updates.
  ~TkClientLocation() override;

  // Plain configuration, no side effects.
  /// The application's delegate, held strongly; none: results and errors are dropped.
  std::shared_ptr<LocationDelegate> callDelegate;
  /// The access key; absent fails every call with "您未配置 Appkey" (an empty key passes).
  /// Requests carry the key last given to `initKey`, not this property.
  std::optional<std::string> accesskey;
  /// The place-search key; requests carry the key last given to `initKey` or `setPoiKey`.
  std::optional<std::string> poiKey;
  /// The default `interval`, also used for a NaN one.
  static constexpr double kDefaultInterval = 1.0;
  /// The shortest period a continuous session runs at: a smaller `interval` is raised to it.
  static constexpr double kMinimumInterval = 0.1;

  /// Seconds between results of a continuous session, fixed when its first fix arrives.
  /// Below `kMinimumInterval` the session runs at that floor, NaN at the default (both logged).
  double interval = kDefaultInterval;
  /// A session delivers one fix (true) or a series (false).
  bool isLocateOnce = true;
  /// A single-fix session picks the most accurate fix of a 0.2 s window.
  bool isFastLocation = false;
  /// The user agreed to the privacy policy; false fails every call with "您未同意隐私政策".
  bool isAgree = false;
  /// Base address of the location service; plain http is accepted for loopback hosts only.
  std::string serviceURL;
  /// The region in which the offline local result (no network) converts a fix to GCJ-02. The
  /// default is the GCJ-02 rectangle; Region::precise leaves fixes outside mainland China (Hong
  /// Kong, Macao, Taiwan, Korea, Japan, ...) in WGS-84.
  Region offlineRegion = Region::rectangle;
  /// How calls behave when the service struggles: back-off, retries, the local result when
  /// the service is unreachable, an answer cache. All off by default.
  ServicePolicy servicePolicy;

  /// Sets `accesskey` and `poiKey`, and the process-wide keys every request carries.
  void initKey(const std::string& accesskey);
  /// Sets `poiKey` and the process-wide key of the place searches.
  void setPoiKey(const std::string& poikey);
  /// Sets `isAgree`.
  void setAgreePrivacy(bool isAgree);
  /// Why `url` cannot be the service address, as a sentence to show, or none when it can:
  /// absolute, https (plain http only to a loopback host), a host, no query or fragment.
  static std::optional<std::string> serviceURLProblem(const std::string& url);
  /// Sets `serviceURL` when `serviceURLProblem` finds nothing and returns true; otherwise
  /// logs why, keeps the old address and returns false. (Assigning `serviceURL` checks
  /// nothing: a bad address fails each call with "无效的URL".)
  bool setServiceURL(const std::string& url);
  /// Sets `callDelegate`.
  void setLocationDelegate(std::shared_ptr<LocationDelegate> delegate);
  /// Current time in milliseconds since the Unix epoch.
  std::int64_t milliStamp() const;

  /// The process-wide switch of the kit's console log (default off). Any thread.
  static bool isLogEnabled();
  /// Turns the kit's console log on or off, for every facade. Any thread.
  static void setIsLogEnabled(bool enabled);
  /// Sends the kit's console (the log, the banner and the two warnings) to `handler`
  /// instead of standard output; an empty handler restores standard output. The handler
  /// gets each piece of text with its line feed, from the thread that logs, one at a time,
  /// and must not call back into the log. Any thread.
  static void setLogHandler(LogHandler handler);

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
  /// The last fix the location source delivered (to any session of the process), as it gave
  /// it, if it is at most `maxAge` old (its age: `ageOf`); none when it is older, when there
  /// is none, or without the user's consent (`isAgree`).
  std::optional<Location> lastLocation(std::chrono::duration<double> maxAge) const;

  // The service calls. Each checks consent and key first; answers and errors reach
  // `callDelegate` on the main queue. Requests in flight hold the facade weakly, except the
  // two place searches, which deliver even when the application lets the facade go.
  /// Sends one fix (WGS-84, as a receiver reports it) to the fused-location service →
  /// `onReceivedLocationWithTkLocation`, whose point is GCJ-02.
  void getTrackLocation(const Location& location);
  /// The address at a GCJ-02 coordinate (the datum the service reads) →
  /// `onReceivedReverseCodeWithTkLocation`.
  void getReverseCode(double latitude, double longitude);
  /// The address at a coordinate written in `datum`, converted to GCJ-02 first (a GPS fix is
  /// WGS-84; over the GCJ-02 region the two differ by hundreds of metres).
  void getReverseCode(double latitude, double longitude, Datum datum);
  /// The places an address names, within `city` → `onReceivedGeocodeWithResult` (GCJ-02 points).
  void getGeocCode(const std::string& address, const std::string& city);
  /// Places matching `name` in a city, one page → `onReceivedPoiSearchWithResult`.
  void poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                    std::int32_t page_index, std::int32_t page_size);
  /// Places matching `keywords` within `radius` of `location` ("longitude,latitude", GCJ-02), one
  /// page, ordered by `orderby` → `onReceivedPoiSearchWithResult`.
  void poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                       const std::string& category, const std::string& orderby, std::int32_t page_index,
                       std::int32_t page_size);

  // LocationControllerDelegate: called by the facade's own controller, not by the application.
  /// A fix from the controller: handled according to the session.
  void locationSuccessWithLocation(const Location& location) override;
  /// A failure from the controller: ends the session, reported with "定位失败：".
  void locationFailedWithErrorMsg(const std::string& msg) override;
  /// A typed failure from the controller: as `locationFailedWithErrorMsg`, and the delegate
  /// also hears the typed error.
  void locationFailedWithError(const TkError& error) override;
  /// A fix the controller accepted: the delegate hears it raw while a session runs.
  void locationAccepted(const Location& location) override;
  /// The source stopped delivering or delivers again: the delegate hears it while a session runs.
  void locationAvailabilityChanged(const LocationAvailability& availability) override;

  /// Whether a session is running.
  bool isLocating() const { return isLocating_; }

 private:
  friend class TkClientLocationProbe;

  // Only `create` can make one, so the constructor cannot be called from outside.
  class PrivateTag {
    explicit PrivateTag() = default;
    friend class TkClientLocation;
  };

 public:
  explicit TkClientLocation(PrivateTag);

 private:
  void handleLocation(const std::optional<Location>& location);
  bool checkPrivacyAndKey(TkCall call);
  /// Logs the error's text and tells the delegate, if any.
  void reportError(const TkError& error);
  void scheduleTimer();
  /// Sends a fix to the fused-location service; `paced`: a continuous session's tick, which
  /// the back-off policy may hold.
  void sendFix(const Location& location, bool paced);
  /// Answers with the fix in GCJ-02, stamped now, as when the device has no route.
  void answerLocally(const Location& location);

  std::shared_ptr<Timer> timerSchedule_;
  bool isLocating_ = false;
  std::shared_ptr<LocationController> locateDelegate_;
  std::shared_ptr<CallState> calls_;
};

}  // namespace tovik
