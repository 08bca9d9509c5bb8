#include "tovik/location/location_controller.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <variant>

#include "tovik/providers/automatic_location_provider.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/system/console.h"
#include "tovik/system/bundle.h"
#include "tovik/system/number_text.h"

namespace tovik {
namespace {

constexpr const char* kWhenInUseKey = "NSLocationWhenInUseUsageDescription";
constexpr const char* kAlwaysKey = "NSLocationAlwaysAndWhenInUseUsageDescription";
constexpr const char* kBackgroundModesKey = "UIBackgroundModes";
constexpr const char* kBackgroundLocationMode = "location";

constexpr const char* kMissingWhenInUse = "Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";
constexpr const char* kDenied = "定位权限已被拒绝或受限，请前往设置开启";
constexpr const char* kNoBackgroundMode = "未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效";
constexpr const char* kMissingAlways =
    "Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用";
constexpr const char* kNoBackgroundAuthorization = "用户未授权后台定位，连续定位仅前台生效";
constexpr const char* kStopped = "手动停止定位成功";

// Each check reads the host's dictionary afresh: the host may fill it at any time.
bool hasStringValue(const char* key) {
  const auto value = Bundle::main().objectForInfoDictionaryKey(key);
  return value && std::holds_alternative<std::string>(*value);
}

bool hasWhenInUseDescription() { return hasStringValue(kWhenInUseKey); }

bool hasAlwaysDescription() { return hasStringValue(kAlwaysKey); }

bool hasBackgroundLocationMode() {
  const auto value = Bundle::main().objectForInfoDictionaryKey(kBackgroundModesKey);
  if (!value) {
    return false;
  }
  const auto* modes = std::get_if<std::vector<std::string>>(&*value);
  return modes != nullptr && std::find(modes->begin(), modes->end(), kBackgroundLocationMode) != modes->end();
}

// The location codes of `TkErrorDomain`.
constexpr int kNoPurpose = 1;
constexpr int kUseDenied = 2;
constexpr int kNoSource = 3;
constexpr int kNoFixInTime = 4;
constexpr int kSourceFailed = 5;

// A source's error as a location code: the sources' own domains name what happened.
int sourceFailureCode(const Error& error) {
  const std::string& domain = error.domain();
  const long code = error.code();
  if (domain == LocationManager::kErrorDomain && code == LocationManager::kErrorLocationTimedOut) {
    return kNoFixInTime;
  }
  if (domain == GeoclueLocationProvider::kErrorDomain) {
    if (code == GeoclueLocationProvider::kErrorDenied) return kUseDenied;
    if (code == GeoclueLocationProvider::kErrorUnavailable) return kNoSource;
  }
  if ((domain == GpsdLocationProvider::kErrorDomain && code == GpsdLocationProvider::kErrorCannotConnect) ||
      (domain == AutomaticLocationProvider::kErrorDomain && code == AutomaticLocationProvider::kErrorNoSource)) {
    return kNoSource;
  }
  return kSourceFailed;
}

bool isRefused(AuthorizationStatus status) {
  return status == AuthorizationStatus::restricted || status == AuthorizationStatus::denied;
}

}  // namespace

LocationController::LocationController() = default;

LocationController::~LocationController() {
  // The window timer keeps itself alive while valid; end it with its owner. The manager
  // ends its own updates when it goes.
  if (fastSampleTimer_) {
    fastSampleTimer_->invalidate();
  }
}

LocationManager& LocationController::locationManager() {
  if (!locationManager_) {
    locationManager_ = std::make_unique<LocationManager>();
  }
  return *locationManager_;
}

void LocationController::initOption() {
  sdkLog("initOption：");
  auto& manager = locationManager();
  manager.setDistanceFilter(kDistanceFilter);
  manager.setDesiredAccuracy(kLocationAccuracyBest);
  manager.setDelegate(weak_from_this());
  manager.setPausesLocationUpdatesAutomatically(false);
  manager.requestWhenInUseAuthorization();
}

bool LocationController::passesRequestChecks() {
  if (!hasWhenInUseDescription()) {
    reportFailure(kMissingWhenInUse, kNoPurpose, "The host declares no NSLocationWhenInUseUsageDescription.");
    return false;
  }
  if (isRefused(LocationManager::authorizationStatus())) {
    reportFailure(kDenied, kUseDenied, "Location use is denied or restricted for this application.");
    return false;
  }
  return true;
}

void LocationController::startContinuousLocation() {
  if (!passesRequestChecks()) {
    return;
  }
  isContinuousLocation_ = true;
  if (!hasBackgroundLocationMode()) {
    consoleLine(kNoBackgroundMode);
  } else {
    if (!hasAlwaysDescription()) {
      reportFailure(kMissingAlways, kNoPurpose,
                    "The host declares no NSLocationAlwaysAndWhenInUseUsageDescription, which a continuous "
                    "session needs.");
      return;
    }
    auto& manager = locationManager();
    manager.setAllowsBackgroundLocationUpdates(true);
    if (LocationManager::authorizationStatus() == AuthorizationStatus::authorizedWhenInUse) {
      manager.requestAlwaysAuthorization();
    }
    if (LocationManager::authorizationStatus() != AuthorizationStatus::authorizedAlways) {
      consoleLine(kNoBackgroundAuthorization);
    }
  }
  locationManager().startUpdatingLocation();
  isUpdating_ = true;
}

void LocationController::requestSingleLocation(bool fast) {
  if (!passesRequestChecks()) {
    return;
  }
  isContinuousLocation_ = false;
  if (fast) {
    sdkLog("请求单次定位（快速模式）：");
    isFastOnceLocation_ = true;
    fastBuffer_.clear();
    if (fastSampleTimer_) {
      fastSampleTimer_->invalidate();
      fastSampleTimer_.reset();
    }
    locationManager().startUpdatingLocation();
    isUpdating_ = true;
  } else {
    sdkLog("请求单次定位：");
    locationManager().requestLocation();
  }
}

void LocationController::didUpdateLocations(LocationManager&, const std::vector<Location>& locations) {
  if (locations.empty()) {
    return;
  }
  // A copy: the owner hears the fix first and may stop the session, which may end the list.
  const Location fix = locations.back();
  if (!hasPosition(fix)) {
    return;
  }
  locationPoint_ = fix;
  sdkLog("纬度：" + shortestPlainText(fix.coordinate.latitude) + " 经度：" +
         shortestPlainText(fix.coordinate.longitude) + " 精度：" + shortestPlainText(fix.horizontalAccuracy));
  if (const auto owner = delegate.lock()) {
    owner->locationAccepted(fix);
  }

  if (isFastOnceLocation_) {
    fastBuffer_.push_back(fix);
    if (!fastSampleTimer_) {
      fastSampleTimer_ = Timer::scheduledTimer(kFastSampleWindow, false, [weak = weak_from_this()](Timer&) {
        if (const auto self = weak.lock()) {
          self->finishFastSampling();
        }
      });
    }
    return;
  }
  if (const auto owner = delegate.lock()) {
    owner->locationSuccessWithLocation(fix);
  }
}

void LocationController::finishFastSampling() {
  fastSampleTimer_.reset();
  if (fastBuffer_.empty()) {
    stopUpdating();
    return;
  }
  // Earliest sample with the smallest non-negative accuracy; all negative: the first.
  Location best = fastBuffer_.front();
  for (auto it = fastBuffer_.begin() + 1; it != fastBuffer_.end(); ++it) {
    const double accuracy = it->horizontalAccuracy;
    if (accuracy >= 0.0 && (best.horizontalAccuracy < 0.0 || best.horizontalAccuracy > accuracy)) {
      best = *it;
    }
  }
  stopUpdating();
  if (const auto owner = delegate.lock()) {
    owner->locationSuccessWithLocation(best);
  }
}

void LocationController::stopUpdating() {
  isContinuousLocation_ = false;
  isFastOnceLocation_ = false;
  if (fastSampleTimer_) {
    fastSampleTimer_->invalidate();
    fastSampleTimer_.reset();
  }
  fastBuffer_.clear();
  auto& manager = locationManager();
  manager.setAllowsBackgroundLocationUpdates(false);
  manager.stopUpdatingLocation();
  isUpdating_ = false;
  sdkLog(kStopped);
}

void LocationController::didFailWithError(LocationManager&, const Error& error) {
  sdkLog("定位失败：" + error.localizedDescription());
  reportFailure(error.localizedDescription(), sourceFailureCode(error),
                "The location source reported: " + error.description());
}

void LocationController::didChangeAvailability(LocationManager&, const LocationAvailability& availability) {
  if (const auto owner = delegate.lock()) {
    owner->locationAvailabilityChanged(availability);
  }
}

void LocationController::reportFailure(const std::string& msg, int code, std::string detail) {
  if (const auto owner = delegate.lock()) {
    owner->locationFailedWithError(TkError{.domain = TkErrorDomain::location,
                                           .code = code,
                                           .call = TkCall::location,
                                           .message = msg,
                                           .detail = std::move(detail)});
  }
}

}  // namespace tovik
