#include "tovik/client/tk_client_location.h"

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string_view>

#include <cmath>
#include <utility>

#include "tovik/requests/reverse_geo_request.h"
#include "tovik/requests/track_request.h"
#include "tovik/client/answer_cache.h"
#include "tovik/client/upload_pacer.h"
#include "tovik/network/transport_error.h"
#include "tovik/services/module_keys.h"
#include "tovik/services/retry_budget.h"
#include "tovik/system/clock.h"
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

/// What the facade's calls share beyond the facade's configuration: the retry budget, the
/// lookups in flight and the pacing of a session's uploads.
struct CallState {
  std::shared_ptr<RetryBudget> budget = std::make_shared<RetryBudget>();
  LookupFlights flights;
  UploadPacer pacer;
};

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

// What a call does beside telling the delegate, as the facade's policy asks.
struct CallOptions {
  /// A lookup that may be answered from the cache, or join an identical one in flight.
  std::optional<AnswerCache::Question> question{};
  /// Runs first when the outcome arrives, with the failure (none for a result).
  std::function<void(const TkError*)> settled{};
  /// Answers a failure itself instead of the delegate's error members; true when it did.
  std::function<bool(const TkError&)> insteadOfError{};
};

// Starts `endpoint`'s call for `facade`, answered to the delegate that is current when the
// outcome arrives (a delegate replaced meanwhile hears it); a local copy of the delegate is
// called, since it may replace or drop itself. With a cache in the policy, a fresh answer is
// delivered from it, on the main thread after the call returns, and an identical lookup in
// flight is joined; each joined call hears the outcome once.
template <class T>
void callService(TkClientLocation& facade, const std::shared_ptr<CallState>& state, const ServiceEndpoint& endpoint,
                 std::vector<std::string> arguments, std::optional<nlohmann::json> body,
                 void (LocationDelegate::*onResult)(const T&), CallOptions options = {}) {
  const ServicePolicy policy = facade.servicePolicy;
  const std::weak_ptr<const TkClientLocation> weak = facade.weak_from_this();
  const auto tellResult = [weak, onResult](const T& answer) {
    const auto self = weak.lock();
    if (const auto delegate = self ? self->callDelegate : nullptr) {
      ((*delegate).*onResult)(answer);
    }
  };
  const auto tellError = [weak](const TkError& error) {
    const auto self = weak.lock();
    if (const auto delegate = self ? self->callDelegate : nullptr) {
      tellFailure(*delegate, error);
    }
  };
  std::optional<AnswerCache::Question> question = policy.cacheMetres > 0 ? options.question : std::nullopt;
  if (question) {
    if (auto hit = AnswerCache::shared().find(*question, policy.cacheMetres, policy.cacheSeconds, Clock::now())) {
      sdkLog("使用缓存的应答，不再请求服务");
      // Held as a sent call holds its caller: a place search is heard even after the facade goes.
      std::shared_ptr<const void> keep;
      if (endpoint.hold == CallerHold::strong) keep = facade.shared_from_this();
      MainQueue::shared().async([keep, tellResult, answer = std::get<T>(std::move(*hit))] { tellResult(answer); });
      return;
    }
    if (state->flights.join(*question, policy.cacheMetres)) {
      sdkLog("相同的请求正在进行，等待其应答");
      return;
    }
    state->flights.open(*question);
  }
  const auto joined = [state, question] { return question ? state->flights.close(*question) : 0; };
  Recipient<T> recipient{
      .onResult =
          [question, joined, tellResult, settled = options.settled](const T& answer) {
            const int also = joined();
            if (question) AnswerCache::shared().store(*question, answer, Clock::now());
            if (settled) settled(nullptr);
            for (int i = 0; i <= also; ++i) tellResult(answer);
          },
      .onError =
          [joined, tellError, settled = options.settled, instead = options.insteadOfError](const TkError& error) {
            const int also = joined();
            if (settled) settled(&error);
            if (instead && instead(error)) return;
            for (int i = 0; i <= also; ++i) tellError(error);
          }};
  ServiceCall::start<T>(endpoint,
                        ServiceCaller{.baseURL = facade.serviceURL,
                                      .holder = facade.weak_from_this(),
                                      .retries = std::max(0, policy.retries),
                                      .budget = state->budget},
                        std::move(arguments), std::move(body), std::move(recipient));
}

// The service could not be reached at all: no answer of any kind came back.
bool isUnreachable(const TkError& error) {
  return error.domain == TkErrorDomain::network &&
         (error.code == int(TransportError::Kind::cannotConnect) ||
          error.code == int(TransportError::Kind::hostNotFound) || error.code == int(TransportError::Kind::timedOut));
}

// "lng,lat" as a point, when it is one.
std::optional<Coordinate> pointOfText(const std::string& text) {
  double longitude = 0;
  double latitude = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%lf,%lf%c", &longitude, &latitude, &rest) != 2) {
    return std::nullopt;
  }
  return Coordinate{latitude, longitude};
}

// The arguments of a lookup, with the key it is sent with, as one text.
std::string questionText(const TkClientLocation& facade, std::string_view call,
                         std::initializer_list<std::string_view> parts, const std::string& key) {
  std::string text = facade.serviceURL;
  text += '\x1f';
  text += call;
  for (const std::string_view part : parts) {
    text += '\x1f';
    text += part;
  }
  return text + '\x1f' + key;
}

}  // namespace

TkClientLocation::TkClientLocation(PrivateTag)
    : serviceURL(TOVIK_DEFAULT_SERVICE_URL), calls_(std::make_shared<CallState>()) {}

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
    const bool paced = servicePolicy.backoff && !isLocateOnce;
    if (paced) {
      if (const auto hold = calls_->pacer.holdReason(Clock::now())) {
        sdkLog(*hold);
        return;
      }
    }
    sendFix(*location, paced);
    return;
  }
  answerLocally(*location);
}

void TkClientLocation::answerLocally(const Location& location) {
  // The fix in GCJ-02, stamped now.
  const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(location.coordinate, offlineRegion);
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

void TkClientLocation::getTrackLocation(const Location& location) { sendFix(location, false); }

void TkClientLocation::sendFix(const Location& location, bool paced) {
  if (!checkPrivacyAndKey(TkCall::location)) {
    return;
  }
  CallOptions options;
  if (paced) {
    calls_->pacer.sent();
    const double period = timerSchedule_ ? timerSchedule_->timeInterval() : kDefaultInterval;
    options.settled = [state = calls_, period](const TkError* failure) {
      state->pacer.settled(failure, period, Clock::now());
    };
  }
  if (servicePolicy.offlineWhenUnreachable) {
    options.insteadOfError = [weak = weak_from_this(), location](const TkError& error) {
      const auto self = weak.lock();
      if (!self || !isUnreachable(error)) {
        return false;
      }
      sdkLog("服务不可达，改用本地定位结果");
      self->answerLocally(location);
      return true;
    };
  }
  callService(*this, calls_, kTrackLocationEndpoint, {}, TrackRequest::assemble(location, Device::current()).encode(),
              &LocationDelegate::onReceivedLocationWithTkLocation, std::move(options));
}

void TkClientLocation::getReverseCode(double latitude, double longitude) {
  if (checkPrivacyAndKey(TkCall::reverseGeocode)) {
    callService(*this, calls_, kReverseGeocodeEndpoint, {},
                ReverseGeoRequest::assemble(latitude, longitude, Device::current()).encode(),
                &LocationDelegate::onReceivedReverseCodeWithTkLocation,
                {.question = AnswerCache::Question{questionText(*this, "reverse", {}, moduleAccessKey()),
                                                   Coordinate{latitude, longitude}}});
  }
}

void TkClientLocation::getReverseCode(double latitude, double longitude, Datum datum) {
  const Coordinate gcj = convertDatum(Coordinate{latitude, longitude}, datum, Datum::gcj02);
  getReverseCode(gcj.latitude, gcj.longitude);
}

void TkClientLocation::getGeocCode(const std::string& address, const std::string& city) {
  if (checkPrivacyAndKey(TkCall::geocode)) {
    callService(
        *this, calls_, kGeocodeEndpoint, {address, city}, std::nullopt, &LocationDelegate::onReceivedGeocodeWithResult,
        {.question = AnswerCache::Question{questionText(*this, "geocode", {address, city}, moduleAccessKey()), std::nullopt}});
  }
}

void TkClientLocation::poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                                    std::int32_t page_index, std::int32_t page_size) {
  if (checkPrivacyAndKey(TkCall::placeSearch)) {
    std::vector<std::string> arguments{name, city_code, city, std::to_string(page_index), std::to_string(page_size)};
    AnswerCache::Question question{
        questionText(*this, "keyword", {arguments[0], arguments[1], arguments[2], arguments[3], arguments[4]}, modulePoiKey()),
        std::nullopt};
    callService(*this, calls_, kPlaceSearchEndpoint, std::move(arguments), std::nullopt,
                &LocationDelegate::onReceivedPoiSearchWithResult, {.question = std::move(question)});
  }
}

void TkClientLocation::poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                                       const std::string& category, const std::string& orderby, std::int32_t page_index,
                                       std::int32_t page_size) {
  if (checkPrivacyAndKey(TkCall::nearbySearch)) {
    std::vector<std::string> arguments{keywords,
                                       location,
                                       std::to_string(radius),
                                       category,
                                       orderby,
                                       std::to_string(page_index),
                                       std::to_string(page_size)};
    // The point is compared by distance; a location that is not "lng,lat" is compared as text.
    const auto point = pointOfText(location);
    AnswerCache::Question question{questionText(*this, "nearby",
                                                {arguments[0], point ? std::string_view() : arguments[1], arguments[2],
                                                 arguments[3], arguments[4], arguments[5], arguments[6]},
                                                modulePoiKey()),
                                   point};
    callService(*this, calls_, kNearbySearchEndpoint, std::move(arguments), std::nullopt,
                &LocationDelegate::onReceivedPoiSearchWithResult, {.question = std::move(question)});
  }
}

}  // namespace tovik
