// The facade's five service calls: the precondition, then the services folder does the work
// and answers the delegate that is current when the outcome arrives.
#include "tovik/client/tk_client_location.h"
#include "tovik/services/location_exchange.h"
#include "tovik/services/scenario_search.h"

namespace tovik {
namespace {

/// Hands an outcome to the facade's delegate, read when the outcome arrives (a delegate
/// replaced meanwhile hears it). The call keeps the facade alive through the delivery; the
/// delegate is a local copy, since it may replace or drop itself.
template <class T>
Recipient<T> toDelegate(const TkClientLocation& facade, void (LocationDelegate::*onResult)(const T&)) {
  const std::weak_ptr<const TkClientLocation> weak = facade.weak_from_this();
  const auto delegateOf = [weak]() -> std::shared_ptr<LocationDelegate> {
    const auto self = weak.lock();
    return self ? self->callDelegate : nullptr;
  };
  return Recipient<T>{.onResult =
                          [delegateOf, onResult](const T& answer) {
                            if (const auto delegate = delegateOf()) {
                              ((*delegate).*onResult)(answer);
                            }
                          },
                      .onError =
                          [delegateOf](const std::string& message) {
                            if (const auto delegate = delegateOf()) {
                              delegate->onLocationErrorWithMsg(message);
                            }
                          }};
}

}  // namespace

ServiceCaller TkClientLocation::serviceCaller() { return ServiceCaller{serviceURL, weak_from_this()}; }

void TkClientLocation::getTrackLocation(const Location& location) {
  if (checkPrivacyAndKey()) {
    LocationExchange::getTrackLocation(serviceCaller(), location,
                                       toDelegate(*this, &LocationDelegate::onReceivedLocationWithTkLocation));
  }
}

void TkClientLocation::getReverseCode(double latitude, double longitude) {
  if (checkPrivacyAndKey()) {
    LocationExchange::getReverseCode(serviceCaller(), latitude, longitude,
                                     toDelegate(*this, &LocationDelegate::onReceivedReverseCodeWithTkLocation));
  }
}

void TkClientLocation::getGeocCode(const std::string& address, const std::string& city) {
  if (checkPrivacyAndKey()) {
    ScenarioSearch::getGeocCode(serviceCaller(), address, city,
                                toDelegate(*this, &LocationDelegate::onReceivedGeocodeWithResult));
  }
}

void TkClientLocation::poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                                    std::int32_t page_index, std::int32_t page_size) {
  if (checkPrivacyAndKey()) {
    ScenarioSearch::poiKeySearch(serviceCaller(), name, city_code, city, page_index, page_size,
                                 toDelegate(*this, &LocationDelegate::onReceivedPoiSearchWithResult));
  }
}

void TkClientLocation::poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                                       const std::string& category, const std::string& orderby,
                                       std::int32_t page_index, std::int32_t page_size) {
  if (checkPrivacyAndKey()) {
    ScenarioSearch::poiNearbySearch(serviceCaller(), keywords, location, radius, category, orderby, page_index,
                                    page_size, toDelegate(*this, &LocationDelegate::onReceivedPoiSearchWithResult));
  }
}

}  // namespace tovik
