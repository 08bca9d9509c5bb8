// The main queue, the location providers and the host's information dictionary for C
// callers.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tovik/capi/c_boundary.h"
#include "tovik/capi/callback_scope.h"
#include "tovik/capi/location_conversion.h"
#include "tovik/system/bundle.h"
#include "tovik/system/error.h"
#include "tovik/providers/automatic_location_provider.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/gpsd_location_provider.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/nmea_replay_provider.h"
#include "tovik/providers/scripted_location_provider.h"

struct tk_scripted_location_provider {
  explicit tk_scripted_location_provider(std::shared_ptr<tovik::ScriptedLocationProvider> provider)
      : provider(std::move(provider)) {}

  std::shared_ptr<tovik::ScriptedLocationProvider> provider;
};

namespace {

// The options as first shipped: later tables start with these members.
constexpr std::size_t kFirstGeoclueOptionsSize = offsetof(tk_geoclue_options, distanceFilter) + sizeof(double);

bool geoclueOptionsReadable(const tk_geoclue_options* options) {
  return options == nullptr || options->size >= kFirstGeoclueOptionsSize;
}

tovik::GeoclueLocationProvider::Options geoclueOptions(const tk_geoclue_options* given) {
  tovik::GeoclueLocationProvider::Options options;
  if (given == nullptr) {
    return options;
  }
  if (given->busAddress != nullptr) options.busAddress = given->busAddress;
  if (given->desktopId != nullptr) options.desktopId = given->desktopId;
  options.desiredAccuracy = given->desiredAccuracy;
  options.distanceFilter = given->distanceFilter;
  return options;
}

using tovik::AuthorizationStatus;
using tovik::Bundle;
using tovik::BundleValue;
using tovik::LocationServices;
using tovik::MainQueue;
using tovik::capi::CallbackScope;
using tovik::capi::guarded;
using tovik::capi::guardedStatus;
using tovik::capi::guardedVoid;
using tovik::capi::noteQueueDriven;
using tovik::capi::onMainThreadOrUndriven;

/// `seconds` as a queue duration: NaN and negative values are no time, and very long
/// waits are held at a century so the conversion cannot overflow.
std::chrono::steady_clock::duration toDuration(double seconds) {
  constexpr double kCentury = 100.0 * 365.25 * 24 * 3600;
  const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kCentury);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(clamped));
}

/// C may pass any int: a value naming no status must not be read as the enumeration (that
/// is undefined in C++), so its bits are checked as the underlying integer. Taken by
/// reference, since passing it by value would already read it.
bool isAuthorizationStatus(const tk_authorization_status& status) {
  std::underlying_type_t<tk_authorization_status> code{};
  std::memcpy(&code, &status, sizeof code);
  return code >= TK_AUTHORIZATION_NOT_DETERMINED && code <= TK_AUTHORIZATION_AUTHORIZED_WHEN_IN_USE;
}

/// Runs `drive`, which drives the main queue, unless the caller may not: the queue does not
/// nest, so never from inside a callback, and only the main thread drives it (the queue
/// itself refuses every other thread).
template <class Drive>
tk_status driveQueue(Drive&& drive) noexcept {
  if (CallbackScope::active()) {
    return TK_ERROR_NESTED;
  }
  noteQueueDriven();
  return guardedStatus([&] {
    std::forward<Drive>(drive)();
    // The first thread that drove the queue is the main thread for good, so a caller that is
    // not it now was refused.
    return MainQueue::shared().isMainThread() ? TK_OK : TK_ERROR_WRONG_THREAD;
  });
}

tk_status setBundleObject(const char* key, BundleValue value) {
  if (key == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    Bundle::main().setObject(key, std::move(value));
    return TK_OK;
  });
}

}  // namespace

extern "C" {

// The main queue

tk_status tk_main_queue_async(tk_work_fn work, void* context) {
  if (work == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    MainQueue::shared().async([work, context] {
      const CallbackScope scope;
      work(context);
    });
    return TK_OK;
  });
}

tk_status tk_main_queue_run_checked(void) {
  return driveQueue([] { MainQueue::shared().run(); });
}

tk_status tk_main_queue_run_for_checked(double seconds, size_t* handled) {
  std::size_t ran = 0;
  const tk_status status = driveQueue([&] { ran = MainQueue::shared().runFor(toDuration(seconds)); });
  if (handled != nullptr) {
    *handled = ran;
  }
  return status;
}

tk_status tk_main_queue_run_until_checked(tk_predicate_fn predicate, void* context, double timeoutSeconds,
                                          bool* held) {
  bool holds = false;
  const tk_status status = predicate == nullptr ? TK_ERROR_NULL_ARGUMENT : driveQueue([&] {
    holds = MainQueue::shared().runUntil(
        [&] {
          const CallbackScope scope;
          return predicate(context);
        },
        toDuration(timeoutSeconds));
  });
  if (held != nullptr) {
    *held = holds;
  }
  return status;
}

tk_status tk_main_queue_poll_checked(size_t* handled) {
  std::size_t ran = 0;
  const tk_status status = driveQueue([&] { ran = MainQueue::shared().poll(); });
  if (handled != nullptr) {
    *handled = ran;
  }
  return status;
}

void tk_main_queue_run(void) { (void)tk_main_queue_run_checked(); }

size_t tk_main_queue_run_for(double seconds) {
  std::size_t handled = 0;
  (void)tk_main_queue_run_for_checked(seconds, &handled);
  return handled;
}

bool tk_main_queue_run_until(tk_predicate_fn predicate, void* context, double timeoutSeconds) {
  bool held = false;
  (void)tk_main_queue_run_until_checked(predicate, context, timeoutSeconds, &held);
  return held;
}

size_t tk_main_queue_poll(void) {
  std::size_t handled = 0;
  (void)tk_main_queue_poll_checked(&handled);
  return handled;
}

void tk_main_queue_stop(void) {
  guardedVoid([] { MainQueue::shared().stop(); });
}

bool tk_main_queue_is_main_thread(void) {
  return guarded(false, [] { return MainQueue::shared().isMainThread(); });
}

int tk_main_queue_fd(void) {
  return guarded(-1, [] { return MainQueue::shared().fd(); });
}

int tk_main_queue_timeout_ms(void) {
  return guarded(-1, [] {
    const auto timeout = MainQueue::shared().nextTimeout();
    if (!timeout) {
      return -1;
    }
    // Rounded up, so that a host waking on time finds the timer due, not a millisecond early.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*timeout).count();
    return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
  });
}

// Location providers

tk_status tk_location_services_use_default(void) {
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([] {
    LocationServices::setProvider(nullptr);
    return TK_OK;
  });
}

tk_status tk_location_services_use_gpsd(const char* host, uint16_t port) {
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    using tovik::GpsdLocationProvider;
    LocationServices::setProvider(std::make_shared<GpsdLocationProvider>(
        host == nullptr ? GpsdLocationProvider::kDefaultHost : host,
        port == 0 ? GpsdLocationProvider::kDefaultPort : port));
    return TK_OK;
  });
}

tk_status tk_location_services_use_nmea_replay(const char* path, double speedFactor) {
  if (path == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    LocationServices::setProvider(std::make_shared<tovik::NmeaReplayProvider>(path, speedFactor));
    return TK_OK;
  });
}

tk_geoclue_options tk_geoclue_options_make(void) {
  const tovik::GeoclueLocationProvider::Options defaults;
  return {.size = sizeof(tk_geoclue_options),
          .busAddress = nullptr,
          .desktopId = nullptr,
          .desiredAccuracy = defaults.desiredAccuracy,
          .distanceFilter = defaults.distanceFilter};
}

tk_status tk_location_services_use_geoclue(const tk_geoclue_options* options) {
  if (!geoclueOptionsReadable(options)) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    LocationServices::setProvider(std::make_shared<tovik::GeoclueLocationProvider>(geoclueOptions(options)));
    return TK_OK;
  });
}

tk_status tk_location_services_use_automatic(const char* gpsdHost, uint16_t gpsdPort, const tk_geoclue_options* geoclue,
                                             double probeTimeoutSeconds) {
  if (!geoclueOptionsReadable(geoclue)) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    using tovik::AutomaticLocationProvider;
    AutomaticLocationProvider::Options options;
    if (gpsdHost != nullptr) options.gpsdHost = gpsdHost;
    if (gpsdPort != 0) options.gpsdPort = gpsdPort;
    options.geoclue = geoclueOptions(geoclue);
    // NaN and anything not above zero keep the default; a day is as long as a probe may wait.
    if (probeTimeoutSeconds > 0) {
      options.probeTimeout = std::chrono::milliseconds(std::llround(std::min(probeTimeoutSeconds, 86400.0) * 1000));
    }
    LocationServices::setProvider(std::make_shared<AutomaticLocationProvider>(std::move(options)));
    return TK_OK;
  });
}

tk_authorization_status tk_location_services_authorizationStatus(void) {
  if (!onMainThreadOrUndriven()) {
    return TK_AUTHORIZATION_NOT_DETERMINED;
  }
  return guarded(TK_AUTHORIZATION_NOT_DETERMINED, [] {
    return static_cast<tk_authorization_status>(LocationServices::provider()->authorizationStatus());
  });
}

tk_scripted_location_provider* tk_location_services_use_scripted(void) {
  if (!onMainThreadOrUndriven()) {
    return nullptr;
  }
  return guarded(static_cast<tk_scripted_location_provider*>(nullptr), [] {
    auto provider = std::make_shared<tovik::ScriptedLocationProvider>();
    auto handle = std::make_unique<tk_scripted_location_provider>(provider);
    LocationServices::setProvider(std::move(provider));
    return handle.release();
  });
}

void tk_scripted_location_provider_release(tk_scripted_location_provider* provider) {
  guardedVoid([&] { const std::unique_ptr<tk_scripted_location_provider> owned(provider); });
}

tk_status tk_scripted_location_provider_pushLocation(tk_scripted_location_provider* provider,
                                                     const tk_location* location) {
  if (provider == nullptr || location == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    // Held for the call: a callback may release the handle.
    const auto scripted = provider->provider;
    scripted->pushLocation(tovik::capi::toLocation(*location));
    return TK_OK;
  });
}

tk_status tk_scripted_location_provider_pushError(tk_scripted_location_provider* provider, const char* domain,
                                                  long code, const char* description) {
  if (provider == nullptr || domain == nullptr || description == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    const auto scripted = provider->provider;
    scripted->pushError(tovik::Error(domain, code, description));
    return TK_OK;
  });
}

tk_status tk_scripted_location_provider_setAuthorizationStatus(tk_scripted_location_provider* provider,
                                                               tk_authorization_status status) {
  if (provider == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (!isAuthorizationStatus(status)) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  if (!onMainThreadOrUndriven()) {
    return TK_ERROR_WRONG_THREAD;
  }
  return guardedStatus([&] {
    provider->provider->setAuthorizationStatus(static_cast<AuthorizationStatus>(status));
    return TK_OK;
  });
}

bool tk_scripted_location_provider_isUpdating(const tk_scripted_location_provider* provider) {
  return provider != nullptr && onMainThreadOrUndriven() && provider->provider->isUpdating();
}

// The host's information dictionary

tk_status tk_bundle_main_setObject_string(const char* key, const char* value) {
  if (value == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] { return setBundleObject(key, std::string(value)); });
}

tk_status tk_bundle_main_setObject_strings(const char* key, const char* const* values, size_t count) {
  if (values == nullptr && count > 0) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (std::any_of(values, values + count, [](const char* value) { return value == nullptr; })) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] { return setBundleObject(key, std::vector<std::string>(values, values + count)); });
}

tk_status tk_bundle_main_setObject_number(const char* key, double value) { return setBundleObject(key, value); }

tk_status tk_bundle_main_setObject_bool(const char* key, bool value) { return setBundleObject(key, value); }

tk_status tk_bundle_main_removeObject(const char* key) {
  if (key == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return guardedStatus([&] {
    Bundle::main().removeObject(key);
    return TK_OK;
  });
}

}  // extern "C"
