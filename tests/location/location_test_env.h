#pragma once

// A clean, controlled location world for each test: a scripted provider, a host bundle
// with only the when-in-use purpose string, logging off. Shared by the location and
// client tests.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "support/log_capture.h"
#include "tovik/platform/console.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/location.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/scripted_location_provider.h"
#include "tovik/platform/timer.h"

namespace tovik::testing_env {

inline constexpr const char* kWhenInUseKey = "NSLocationWhenInUseUsageDescription";
inline constexpr const char* kAlwaysKey = "NSLocationAlwaysAndWhenInUseUsageDescription";
inline constexpr const char* kBackgroundModesKey = "UIBackgroundModes";

inline Location fixAt(double latitude, double longitude, double horizontalAccuracy = 5.0) {
  return {.coordinate = {latitude, longitude}, .horizontalAccuracy = horizontalAccuracy};
}

inline bool sameCoordinate(const Location& a, const Location& b) {
  const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return same(a.coordinate.latitude, b.coordinate.latitude) && same(a.coordinate.longitude, b.coordinate.longitude);
}

/// What `fn` writes to standard output.
inline std::string stdoutOf(const std::function<void()>& fn) { return test::consoleOf(fn); }

class LocationTestEnvironment : public testing::Test {
 protected:
  void SetUp() override {
    provider = std::make_shared<ScriptedLocationProvider>();
    LocationServices::setProvider(provider);
    for (const char* key : {kAlwaysKey, kBackgroundModesKey}) {
      Bundle::main().removeObject(key);
    }
    Bundle::main().setObject(kWhenInUseKey, std::string("Shows where you are"));
  }

  void TearDown() override {
    MainQueue::shared().poll();
    setLogEnabled(false);
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
  }

  /// Hands the provider a fix (or an error) and runs what is ready on the main queue.
  void push(const Location& fix) {
    provider->pushLocation(fix);
    MainQueue::shared().poll();
  }
  void pushError(const Error& error) {
    provider->pushError(error);
    MainQueue::shared().poll();
  }

  /// Drives the main queue until `predicate` holds; generous time-out.
  static bool runUntil(const std::function<bool()>& predicate) {
    return MainQueue::shared().runUntil(predicate, std::chrono::seconds(10));
  }

  /// Drives the main queue until a timer of `seconds` has fired, so that every timer
  /// due before it has had its chance too.
  static void runPast(double seconds) {
    const auto fired = std::make_shared<bool>(false);
    Timer::scheduledTimer(seconds, false, [fired](Timer&) { *fired = true; });
    ASSERT_TRUE(runUntil([fired] { return *fired; }));
  }

  std::shared_ptr<ScriptedLocationProvider> provider;
};

}  // namespace tovik::testing_env
