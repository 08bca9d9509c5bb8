// The facade for C callers: `tk_client_location` owns one `TkClientLocation`.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/c_location_delegate.h"
#include "tovik/capi/location_conversion.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/network/service_address.h"
#include "tovik/runloop/main_queue.h"

struct tk_client_location {
  explicit tk_client_location(std::shared_ptr<tovik::TkClientLocation> facade) : facade(std::move(facade)) {}

  std::shared_ptr<tovik::TkClientLocation> facade;
};

namespace {

// The policy table as first shipped: later tables start with these members.
constexpr std::size_t kFirstPolicySize = offsetof(tk_service_policy, cacheSeconds) + sizeof(double);

using tovik::TkClientLocation;
using tovik::capi::CLocationDelegate;
using tovik::capi::guarded;
using tovik::capi::guardedVoid;
using tovik::capi::onMainThreadHandle;
using tovik::capi::onMainThreadOrUndriven;

/// Runs `body` on the facade of `client`. The facade is held for the whole call, so a
/// callback that destroys the handle cannot pull the facade out from under the kit.
template <class Body>
tk_status onFacade(tk_client_location* client, Body&& body) noexcept {
  return onMainThreadHandle(client, [&] {
    const std::shared_ptr<TkClientLocation> facade = client->facade;
    body(*facade);
    return TK_OK;
  });
}

/// Reads a value of the facade of `client`; `fallback` for a NULL handle or off the main
/// thread, where the facade's fields may be changing under the reader.
template <class Result, class Read>
Result fromFacade(const tk_client_location* client, Result fallback, Read&& read) noexcept {
  if (client == nullptr || !onMainThreadOrUndriven()) {
    return fallback;
  }
  return guarded(fallback, [&] { return read(static_cast<const TkClientLocation&>(*client->facade)); });
}

const char* optionalText(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

std::optional<std::string> optionalString(const char* text) {
  return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

/// `onFacade` for operations whose string arguments are all required.
template <class Body, class... Strings>
tk_status withStrings(tk_client_location* client, Body&& body, const Strings*... strings) noexcept {
  const std::initializer_list<const char*> texts{strings...};
  if (std::any_of(texts.begin(), texts.end(), [](const char* text) { return text == nullptr; })) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return onFacade(client, std::forward<Body>(body));
}

}  // namespace

extern "C" {

tk_client_location* tk_client_location_create(const tk_location_delegate* delegate) {
  if (!onMainThreadOrUndriven() || !CLocationDelegate::isReadable(delegate)) {
    return nullptr;
  }
  return guarded(static_cast<tk_client_location*>(nullptr), [&] {
    auto facade = TkClientLocation::create(CLocationDelegate::make(delegate));
    return std::make_unique<tk_client_location>(std::move(facade)).release();
  });
}

void tk_client_location_destroy(tk_client_location* client) {
  guardedVoid([&] {
    std::shared_ptr<tk_client_location> owned(client);
    if (owned && !onMainThreadOrUndriven()) {
      // The facade's timer and session belong to the main thread: end them there.
      tovik::MainQueue::shared().async([owned = std::move(owned)]() mutable { owned.reset(); });
    }
  });
}

tk_status tk_client_location_initKeyWithAccesskey(tk_client_location* client, const char* accesskey) {
  return withStrings(client, [&](TkClientLocation& facade) { facade.initKey(accesskey); }, accesskey);
}

tk_status tk_client_location_setPoiKeyWithPoikey(tk_client_location* client, const char* poikey) {
  return withStrings(client, [&](TkClientLocation& facade) { facade.setPoiKey(poikey); }, poikey);
}

tk_status tk_client_location_setAgreePrivacyWithIsAgree(tk_client_location* client, bool isAgree) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.setAgreePrivacy(isAgree); });
}

tk_status tk_client_location_setLocationDelegateWith_delegate(tk_client_location* client,
                                                              const tk_location_delegate* delegate) {
  if (!CLocationDelegate::isReadable(delegate)) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  return onFacade(client,
                  [&](TkClientLocation& facade) { facade.setLocationDelegate(CLocationDelegate::make(delegate)); });
}

int64_t tk_client_location_milliStamp(const tk_client_location* client) {
  return fromFacade(client, int64_t{0}, [](const TkClientLocation& facade) { return facade.milliStamp(); });
}

bool tk_client_location_isLogEnabled(void) { return TkClientLocation::isLogEnabled(); }

void tk_client_location_setIsLogEnabled(bool enabled) { TkClientLocation::setIsLogEnabled(enabled); }

void tk_client_location_setLogHandler(tk_log_handler handler, void* context) {
  guardedVoid([&] {
    if (handler == nullptr) {
      TkClientLocation::setLogHandler(nullptr);
      return;
    }
    TkClientLocation::setLogHandler(
        [handler, context](std::string_view text) { handler(text.data(), text.size(), context); });
  });
}

// Properties

bool tk_client_location_callDelegate(const tk_client_location* client, tk_location_delegate* out) {
  if (out == nullptr) {
    return false;
  }
  return fromFacade(client, false, [&](const TkClientLocation& facade) {
    const auto table = std::dynamic_pointer_cast<CLocationDelegate>(facade.callDelegate);
    if (!table) {
      return false;
    }
    return table->copyTo(*out);
  });
}

tk_status tk_client_location_setCallDelegate(tk_client_location* client, const tk_location_delegate* delegate) {
  if (!CLocationDelegate::isReadable(delegate)) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  return onFacade(client, [&](TkClientLocation& facade) { facade.callDelegate = CLocationDelegate::make(delegate); });
}

const char* tk_client_location_accesskey(const tk_client_location* client) {
  return fromFacade(client, static_cast<const char*>(nullptr),
                    [](const TkClientLocation& facade) { return optionalText(facade.accesskey); });
}

tk_status tk_client_location_setAccesskey(tk_client_location* client, const char* accesskey) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.accesskey = optionalString(accesskey); });
}

const char* tk_client_location_poiKey(const tk_client_location* client) {
  return fromFacade(client, static_cast<const char*>(nullptr),
                    [](const TkClientLocation& facade) { return optionalText(facade.poiKey); });
}

tk_status tk_client_location_setPoiKey(tk_client_location* client, const char* poiKey) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.poiKey = optionalString(poiKey); });
}

double tk_client_location_interval(const tk_client_location* client) {
  return fromFacade(client, std::numeric_limits<double>::quiet_NaN(),
                    [](const TkClientLocation& facade) { return facade.interval; });
}

tk_status tk_client_location_setInterval(tk_client_location* client, double interval) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.interval = interval; });
}

bool tk_client_location_isLocateOnce(const tk_client_location* client) {
  return fromFacade(client, false, [](const TkClientLocation& facade) { return facade.isLocateOnce; });
}

tk_status tk_client_location_setIsLocateOnce(tk_client_location* client, bool isLocateOnce) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.isLocateOnce = isLocateOnce; });
}

bool tk_client_location_isFastLocation(const tk_client_location* client) {
  return fromFacade(client, false, [](const TkClientLocation& facade) { return facade.isFastLocation; });
}

tk_status tk_client_location_setIsFastLocation(tk_client_location* client, bool isFastLocation) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.isFastLocation = isFastLocation; });
}

bool tk_client_location_isAgree(const tk_client_location* client) {
  return fromFacade(client, false, [](const TkClientLocation& facade) { return facade.isAgree; });
}

tk_status tk_client_location_setIsAgree(tk_client_location* client, bool isAgree) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.isAgree = isAgree; });
}

const char* tk_client_location_serviceURL(const tk_client_location* client) {
  return fromFacade(client, static_cast<const char*>(nullptr),
                    [](const TkClientLocation& facade) { return facade.serviceURL.c_str(); });
}

tk_status tk_client_location_setServiceURL(tk_client_location* client, const char* serviceURL) {
  bool taken = false;
  const tk_status status = withStrings(
      client, [&](TkClientLocation& facade) { taken = facade.setServiceURL(serviceURL); }, serviceURL);
  return status == TK_OK && !taken ? TK_ERROR_INVALID_ARGUMENT : status;
}

const char* tk_service_url_problem(const char* serviceURL) {
  if (serviceURL == nullptr) {
    return "the address is missing";
  }
  // The sentences are literals: static storage, NUL-terminated.
  return guarded<const char*>("the address cannot be checked", [&]() -> const char* {
    const auto problem = tovik::serviceAddressProblem(serviceURL);
    return problem ? problem->data() : nullptr;
  });
}

tk_service_policy tk_service_policy_make(void) {
  const tovik::ServicePolicy defaults;
  return {.size = sizeof(tk_service_policy),
          .backoff = defaults.backoff,
          .retries = defaults.retries,
          .offlineWhenUnreachable = defaults.offlineWhenUnreachable,
          .cacheMetres = defaults.cacheMetres,
          .cacheSeconds = defaults.cacheSeconds};
}

tk_status tk_client_location_setServicePolicy(tk_client_location* client, const tk_service_policy* policy) {
  if (policy == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (policy->size < kFirstPolicySize || policy->retries < 0 || !(policy->cacheMetres >= 0) ||
      !(policy->cacheSeconds > 0)) {
    return client == nullptr ? TK_ERROR_NULL_ARGUMENT : TK_ERROR_INVALID_ARGUMENT;
  }
  return onFacade(client, [&](TkClientLocation& facade) {
    facade.servicePolicy = tovik::ServicePolicy{.backoff = policy->backoff,
                                                .retries = policy->retries,
                                                .offlineWhenUnreachable = policy->offlineWhenUnreachable,
                                                .cacheMetres = policy->cacheMetres,
                                                .cacheSeconds = policy->cacheSeconds};
  });
}

bool tk_client_location_servicePolicy(const tk_client_location* client, tk_service_policy* out) {
  if (out == nullptr || out->size < kFirstPolicySize) {
    return false;
  }
  return fromFacade(client, false, [&](const TkClientLocation& facade) {
    const tovik::ServicePolicy& policy = facade.servicePolicy;
    tk_service_policy copy = tk_service_policy_make();
    copy.backoff = policy.backoff;
    copy.retries = policy.retries;
    copy.offlineWhenUnreachable = policy.offlineWhenUnreachable;
    copy.cacheMetres = policy.cacheMetres;
    copy.cacheSeconds = policy.cacheSeconds;
    copy.size = std::min(out->size, sizeof copy);
    std::memcpy(out, &copy, copy.size);
    return true;
  });
}

const char* tk_error_domain_name(int32_t domain) {
  return tovik::toString(static_cast<tovik::TkErrorDomain>(domain)).data();
}

const char* tk_call_name(int32_t call) { return tovik::toString(static_cast<tovik::TkCall>(call)).data(); }

const char* tk_availability_reason_name(int32_t reason) {
  return tovik::toString(static_cast<tovik::LocationAvailability::Reason>(reason)).data();
}

bool tk_client_location_isLocating(const tk_client_location* client) {
  return fromFacade(client, false, [](const TkClientLocation& facade) { return facade.isLocating(); });
}

// The session

tk_status tk_client_location_startLocation(tk_client_location* client) {
  return onFacade(client, [](TkClientLocation& facade) { facade.startLocation(); });
}

tk_status tk_client_location_startFastLocation(tk_client_location* client) {
  return onFacade(client, [](TkClientLocation& facade) { facade.startFastLocation(); });
}

tk_status tk_client_location_stopLocation(tk_client_location* client) {
  return onFacade(client, [](TkClientLocation& facade) { facade.stopLocation(); });
}

bool tk_client_location_lastLocation(const tk_client_location* client, double maxAgeSeconds, tk_location* out,
                                     double* ageSeconds) {
  if (out == nullptr) {
    return false;
  }
  return fromFacade(client, false, [&](const TkClientLocation& facade) {
    const auto fix = facade.lastLocation(std::chrono::duration<double>(maxAgeSeconds));
    if (!fix) {
      return false;
    }
    *out = tovik::capi::toCLocation(*fix);
    if (ageSeconds != nullptr) {
      *ageSeconds = tovik::ageOf(*fix).count();
    }
    return true;
  });
}

// The service calls

tk_status tk_client_location_getTrackLocationWithLocation(tk_client_location* client, const tk_location* location) {
  if (location == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return onFacade(client,
                  [&](TkClientLocation& facade) { facade.getTrackLocation(tovik::capi::toLocation(*location)); });
}

tk_status tk_client_location_getReverseCodeWithLatitude_longitude(tk_client_location* client, double latitude,
                                                                  double longitude) {
  return onFacade(client, [&](TkClientLocation& facade) { facade.getReverseCode(latitude, longitude); });
}

tk_status tk_client_location_getReverseCodeWithLatitude_longitude_datum(tk_client_location* client, double latitude,
                                                                        double longitude, int32_t datum) {
  if (datum < TK_DATUM_WGS84 || datum > TK_DATUM_BD09) {
    return client == nullptr ? TK_ERROR_NULL_ARGUMENT : TK_ERROR_INVALID_ARGUMENT;
  }
  return onFacade(client, [&](TkClientLocation& facade) {
    facade.getReverseCode(latitude, longitude, static_cast<tovik::Datum>(datum));
  });
}

tk_status tk_client_location_getGeocCodeWithAddress_city(tk_client_location* client, const char* address,
                                                         const char* city) {
  return withStrings(
      client, [&](TkClientLocation& facade) { facade.getGeocCode(address, city); }, address, city);
}

tk_status tk_client_location_poiKeySearchWithName_city_code_city_page_index_page_size(
    tk_client_location* client, const char* name, const char* city_code, const char* city, int32_t page_index,
    int32_t page_size) {
  return withStrings(
      client,
      [&](TkClientLocation& facade) { facade.poiKeySearch(name, city_code, city, page_index, page_size); }, name,
      city_code, city);
}

tk_status tk_client_location_poiNearbySearchWithKeywords_location_radius_category_orderby_page_index_page_size(
    tk_client_location* client, const char* keywords, const char* location, int32_t radius, const char* category,
    const char* orderby, int32_t page_index, int32_t page_size) {
  return withStrings(
      client,
      [&](TkClientLocation& facade) {
        facade.poiNearbySearch(keywords, location, radius, category, orderby, page_index, page_size);
      },
      keywords, location, category, orderby);
}

}  // extern "C"
