#pragma once

// Every process-wide value the kit reads, set to a known state while a test runs and back
// to the defaults afterwards, so that no test sees what an earlier one left behind.
// `PlatformWorld` covers the layers below the network; `KitWorld` adds the network and the
// service calls, for test programs that link them. Header-only: each program links what
// it resets.

#include <memory>
#include <optional>
#include <string>

#include "tovik/client/answer_cache.h"
#include "tovik/network/curl_session.h"
#include "tovik/network/network_checker.h"
#include "tovik/providers/location_services.h"
#include "tovik/providers/scripted_location_provider.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/services/module_keys.h"
#include "tovik/services/service_call.h"
#include "tovik/system/bundle.h"
#include "tovik/system/clock.h"
#include "tovik/system/console.h"
#include "tovik/system/device.h"

namespace tovik::test {

inline constexpr const char* kWhenInUseKey = "NSLocationWhenInUseUsageDescription";
inline constexpr const char* kAlwaysKey = "NSLocationAlwaysAndWhenInUseUsageDescription";
inline constexpr const char* kBackgroundModesKey = "UIBackgroundModes";

/// A scripted location provider, a host bundle with only the when-in-use purpose string,
/// the real clock and device, empty module keys, the log off and on standard output.
class PlatformWorld {
 public:
  PlatformWorld() : provider(std::make_shared<ScriptedLocationProvider>()) {
    clear();
    LocationServices::setProvider(provider);
    Bundle::main().setObject(kWhenInUseKey, std::string("Shows where you are"));
  }
  ~PlatformWorld() {
    MainQueue::shared().poll();  // what the test left queued runs in its own world
    clear();
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
  }
  PlatformWorld(const PlatformWorld&) = delete;
  PlatformWorld& operator=(const PlatformWorld&) = delete;

  const std::shared_ptr<ScriptedLocationProvider> provider;

 private:
  static void clear() {
    for (const char* key : {kWhenInUseKey, kAlwaysKey, kBackgroundModesKey, "CFBundleIdentifier"}) {
      Bundle::main().removeObject(key);
    }
    Clock::pin(std::nullopt);
    Device::setCurrent(std::nullopt);
    setModuleAccessKey("");
    setModulePoiKey("");
    setLogEnabled(false);
    setLogHandler(nullptr);
  }
};

/// `PlatformWorld`, plus the real reachability source, no network test hooks, the requests'
/// own time-out and no cached answers.
class KitWorld : public PlatformWorld {
 public:
  KitWorld() { clear(); }
  ~KitWorld() {
    MainQueue::shared().poll();  // before the network's defaults return
    clear();
  }

 private:
  static void clear() {
    NetworkChecker::setFlagsSource(nullptr);
    CurlSession::setTestingHooks({});
    ServiceCall::setTimeoutIntervalForTesting(std::nullopt);
    AnswerCache::shared().clear();
  }
};

}  // namespace tovik::test
