#include "tovik/client/tk_client_location.h"

#include <cmath>
#include <utility>

#include "tovik/requests/reverse_geo_request.h"
#include "tovik/requests/track_request.h"
#include "tovik/services/module_keys.h"
#include "tovik/services/service_call.h"
#include "tovik/system/device.h"
#include "tovik/requests/request_stamp.h"
#include "tovik/system/console.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/system/build_config.h"
#include "tovik/info/tk_version.h"
#include "tovik/location/location_controller.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"
#include "tovik/network/service_address.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/timer.h"

namespace tovik {
namespace {

constexpr const char* kNotAgreed = "您未同意隐私政策";
constexpr const char* kNoAppkey = "您未配置 Appkey";
constexpr const char* kFailurePrefix = "定位失败：";
constexpr const char* kInvalidFix = "定位数据为空/无效";

// Both error members hear a failure, in turn, from the same delegate: one that replaces
// itself while hearing the text still hears the typed error.
void tellFailure(LocationDelegate& delegate, const TkError& error) {
  delegate.onLocationErrorWithMsg(error.message);
  delegate.onLocationErrorWithError(error);
}

// What the session's source reports reaches the delegate while a session runs; a local copy of
// the delegate is called, since it may replace itself or release the facade.
template <class Report>
void tellWhileLocating(TkClientLocation& facade, void (LocationDelegate::*member)(const Report&),
                       const Report& report) {
  if (!facade.isLocating()) {
    return;
  }
  const auto keepAlive = facade.weak_from_this().lock();
  if (const auto delegate = facade.callDelegate) {
    ((*delegate).*member)(report);
  }
}

bool isUsableFix(const std::optional<Location>& location) { return location && hasPosition(*location); }

// The interval of a continuous session as its timer runs it: a period below the floor would
// flood the service, and NaN has no meaning.
double sessionPeriod(double interval) {
  if (std::isnan(interval)) {
    sdkLog("定位间隔无效，按默认值 1.0 秒执行");
    return TkClientLocation::kDefaultInterval;
  }
  if (interval < TkClientLocation::kMinimumInterval) {
    sdkLog("定位间隔过短，按最小值 0.1 秒执行");
    return TkClientLocation::kMinimumInterval;
  }
  return interval;
}

// Starts `endpoint`'s call for `facade`, answered to the delegate that is current when the
// outcome arrives (a delegate replaced meanwhile hears it); a local copy of the delegate is
// called, since it may replace or drop itself.
template <class T>
void callService(TkClientLocation& facade, const ServiceEndpoint& endpoint, std::vector<std::string> arguments,
                 std::optional<nlohmann::json> body, void (LocationDelegate::*onResult)(const T&)) {
  const std::weak_ptr<const TkClientLocation> weak = facade.weak_from_this();
  const auto delegateOf = [weak]() -> std::shared_ptr<LocationDelegate> {
    const auto self = weak.lock();
    return self ? self->callDelegate : nullptr;
  };
  Recipient<T> recipient{.onResult =
                             [delegateOf, onResult](const T& answer) {
                               if (const auto delegate = delegateOf()) {
                                 ((*delegate).*onResult)(answer);
                               }
                             },
                         .onError =
                             [delegateOf](const TkError& error) {
                               if (const auto delegate = delegateOf()) {
                                 tellFailure(*delegate, error);
                               }
                             }};
  ServiceCall::start<T>(endpoint, ServiceCaller{facade.serviceURL, facade.weak_from_this()}, std::move(arguments),
                        std::move(body), std::move(recipient));
}

}  // namespace

TkClientLocation::TkClientLocation(PrivateTag) : serviceURL(TOVIK_DEFAULT_SERVICE_URL) {}

std::shared_ptr<TkClientLocation> TkClientLocation::create(std::shared_ptr<LocationDelegate> delegate) {
  auto facade = std::make_shared<TkClientLocation>(PrivateTag{});
  facade->callDelegate = std::move(delegate);
  facade->locateDelegate_ = std::make_shared<LocationController>();
  facade->locateDelegate_->initOption();
  consoleLine("[Tovik] SDK版本: " + TkVersion::sdkVersion() + " (build " + TkVersion::buildNumber() + ")");
  facade->locateDelegate_->delegate = facade;
  return facade;
}

TkClientLocation::~TkClientLocation() {
  // A valid timer keeps itself alive and the controller's updates would outlive us:
  // end both with the facade.
  if (timerSchedule_) {
    timerSchedule_->invalidate();
  }
  if (locateDelegate_ && (isLocating_ || locateDelegate_->isUpdating())) {
    locateDelegate_->stopUpdating();
  }
}

void TkClientLocation::initKey(const std::string& key) {
  accesskey = key;
  setModuleAccessKey(key);
  poiKey = key;
  setModulePoiKey(key);
}

void TkClientLocation::setPoiKey(const std::string& poikey) {
  poiKey = poikey;
  setModulePoiKey(poikey);
}

void TkClientLocation::setAgreePrivacy(bool agree) { isAgree = agree; }

std::optional<std::string> TkClientLocation::serviceURLProblem(const std::string& url) {
  if (const auto problem = serviceAddressProblem(url)) {
    return std::string(*problem);
  }
  return std::nullopt;
}

bool TkClientLocation::setServiceURL(const std::string& url) {
  if (const auto problem = serviceAddressProblem(url)) {
    sdkLog({"服务地址无效：", *problem}, "");
    return false;
  }
  serviceURL = url;
  return true;
}

void TkClientLocation::setLocationDelegate(std::shared_ptr<LocationDelegate> delegate) {
  callDelegate = std::move(delegate);
}

std::int64_t TkClientLocation::milliStamp() const { return RequestStamp::milliseconds(); }

bool TkClientLocation::isLogEnabled() { return logEnabled(); }

void TkClientLocation::setIsLogEnabled(bool enabled) { setLogEnabled(enabled); }

void TkClientLocation::setLogHandler(LogHandler handler) { tovik::setLogHandler(std::move(handler)); }

bool TkClientLocation::checkPrivacyAndKey() { return checkPrivacyAndKey(TkCall::none); }

bool TkClientLocation::checkPrivacyAndKey(TkCall call) {
  if (!isAgree) {
    reportError(TkError{.domain = TkErrorDomain::precondition,
                        .code = 1,
                        .call = call,
                        .message = kNotAgreed,
                        .detail = "The user has not agreed to the privacy policy (setAgreePrivacy)."});
    return false;
  }
  if (!accesskey) {
    reportError(TkError{.domain = TkErrorDomain::precondition,
                        .code = 2,
                        .call = call,
                        .message = kNoAppkey,
                        .detail = "No access key is configured (initKey)."});
    return false;
  }
  return true;
}

void TkClientLocation::reportError(const TkError& error) {
  sdkLog(error.message);
  // Local copies: the delegate may replace itself or release the facade while it runs.
  const auto keepAlive = weak_from_this().lock();
  if (const auto delegate = callDelegate) {
    tellFailure(*delegate, error);
  }
}

// The session

void TkClientLocation::startLocation() {
  if (!checkPrivacyAndKey(TkCall::location)) {
    return;
  }
  if (isLocating_) {
    return;
  }
  isLocating_ = true;
  if (!locateDelegate_) {
    return;
  }
  if (isLocateOnce) {
    locateDelegate_->requestSingleLocation(isFastLocation);
  } else {
    locateDelegate_->startContinuousLocation();
  }
}

void TkClientLocation::startFastLocation() {
  isLocateOnce = true;
  isFastLocation = true;
  startLocation();
}

void TkClientLocation::stopLocation() {
  // After a failure the facade is idle, but a continuous session may have left its timer
  // firing and its controller updating; stop those too rather than leave them unreachable.
  const bool leftRunning = timerSchedule_ || (locateDelegate_ && locateDelegate_->isUpdating());
  if (!isLocating_ && !leftRunning) {
    return;
  }
  sdkLog("stopLocation");
  if (timerSchedule_) {
    timerSchedule_->invalidate();
    timerSchedule_.reset();
  }
  if (locateDelegate_) {
    locateDelegate_->stopUpdating();
  }
  isLocating_ = false;
}

void TkClientLocation::locationSuccessWithLocation(const Location& location) {
  if (!isLocating_) {
    return;
  }
  // The session is settled before the fix is handed out: the delegate may stop or start a
  // session from its result, or throw.
  if (isLocateOnce) {
    isLocating_ = false;
    if (locateDelegate_) {
      locateDelegate_->stopUpdating();
    }
    handleLocation(location);
    return;
  }
  if (timerSchedule_) {
    return;  // the interval timer delivers from now on
  }
  scheduleTimer();
  handleLocation(location);
}

void TkClientLocation::locationFailedWithErrorMsg(const std::string& msg) {
  locationFailedWithError(TkError{.domain = TkErrorDomain::location,
                                  .code = 5,
                                  .call = TkCall::location,
                                  .message = msg,
                                  .detail = "The location source failed."});
}

void TkClientLocation::locationFailedWithError(const TkError& error) {
  isLocating_ = false;
  TkError told = error;
  told.message = kFailurePrefix + error.message;
  const auto keepAlive = weak_from_this().lock();
  if (const auto delegate = callDelegate) {
    tellFailure(*delegate, told);
  }
}

void TkClientLocation::locationAccepted(const Location& location) {
  tellWhileLocating(*this, &LocationDelegate::onReceivedRawLocation, location);
}

void TkClientLocation::locationAvailabilityChanged(const LocationAvailability& availability) {
  tellWhileLocating(*this, &LocationDelegate::onLocationAvailabilityChanged, availability);
}

std::optional<Location> TkClientLocation::lastLocation(std::chrono::duration<double> maxAge) const {
  if (!isAgree) {
    return std::nullopt;
  }
  return LocationServices::provider()->lastLocation(maxAge);
}

void TkClientLocation::handleLocation(const std::optional<Location>& location) {
  if (!isUsableFix(location)) {
    sdkLog(kInvalidFix);
    return;
  }
  if (NetworkChecker::isNetworkAvailable()) {
    getTrackLocation(*location);
    return;
  }
  // Offline: answer at once with the fix in GCJ-02, stamped now.
  const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(location->coordinate, offlineRegion);
  auto result = std::make_shared<LocationRes>();
  result->location->position->point->latitude = gcj.latitude;
  result->location->position->point->longitude = gcj.longitude;
  result->location->timestamp = milliStamp();
  const auto keepAlive = weak_from_this().lock();
  if (const auto delegate = callDelegate) {
    delegate->onReceivedLocationWithTkLocation(result);
  }
}

void TkClientLocation::scheduleTimer() {
  // The period is fixed when the session's first fix arrives; later changes to
  // `interval` apply to the next continuous session.
  timerSchedule_ = Timer::scheduledTimer(sessionPeriod(interval), true, [weak = weak_from_this()](Timer&) {
    const auto self = weak.lock();
    if (!self) {
      return;
    }
    if (self->locateDelegate_) {
      self->handleLocation(self->locateDelegate_->locationPoint());
    } else {
      self->handleLocation(std::nullopt);
    }
  });
}

void TkClientLocation::getTrackLocation(const Location& location) {
  if (checkPrivacyAndKey(TkCall::location)) {
    callService(*this, kTrackLocationEndpoint, {}, TrackRequest::assemble(location, Device::current()).encode(),
                &LocationDelegate::onReceivedLocationWithTkLocation);
  }
}

void TkClientLocation::getReverseCode(double latitude, double longitude) {
  if (checkPrivacyAndKey(TkCall::reverseGeocode)) {
    callService(*this, kReverseGeocodeEndpoint, {},
                ReverseGeoRequest::assemble(latitude, longitude, Device::current()).encode(),
                &LocationDelegate::onReceivedReverseCodeWithTkLocation);
  }
}

void TkClientLocation::getReverseCode(double latitude, double longitude, Datum datum) {
  const Coordinate gcj = convertDatum(Coordinate{latitude, longitude}, datum, Datum::gcj02);
  getReverseCode(gcj.latitude, gcj.longitude);
}

void TkClientLocation::getGeocCode(const std::string& address, const std::string& city) {
  if (checkPrivacyAndKey(TkCall::geocode)) {
    callService(*this, kGeocodeEndpoint, {address, city}, std::nullopt, &LocationDelegate::onReceivedGeocodeWithResult);
  }
}

void TkClientLocation::poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                                    std::int32_t page_index, std::int32_t page_size) {
  if (checkPrivacyAndKey(TkCall::placeSearch)) {
    callService(*this, kPlaceSearchEndpoint,
                {name, city_code, city, std::to_string(page_index), std::to_string(page_size)}, std::nullopt,
                &LocationDelegate::onReceivedPoiSearchWithResult);
  }
}

void TkClientLocation::poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                                       const std::string& category, const std::string& orderby, std::int32_t page_index,
                                       std::int32_t page_size) {
  if (checkPrivacyAndKey(TkCall::nearbySearch)) {
    callService(*this, kNearbySearchEndpoint,
                {keywords, location, std::to_string(radius), category, orderby, std::to_string(page_index),
                 std::to_string(page_size)},
                std::nullopt, &LocationDelegate::onReceivedPoiSearchWithResult);
  }
}

}  // namespace tovik
