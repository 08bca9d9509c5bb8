#pragma once

// A facade with consent and key, pointed at a real loopback server, in a controlled world:
// scripted location provider, known device, clean keys, logging off unless a test
// captures the log.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "services/recording_delegate.h"
#include "support/test_server.h"
#include "tovik/client/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/device.h"
#include "tovik/platform/location.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/scripted_location_provider.h"
#include "tovik/services/service_request.h"

namespace tovik::testing_support {

inline constexpr const char* kTrackPath = "/location/hub/v1/track_points";
inline constexpr const char* kGeocodePath = "/location/scenario/v1/geocode";
inline constexpr const char* kPlaceSearchPath = "/location/scenario/v1/placesearch";
inline constexpr const char* kNearbySearchPath = "/location/scenario/v1/nearbysearch";

inline constexpr const char* kVendorId = "0A1B2C3D-4E5F-4061-8283-949596979899";

inline const char* const kLocationJson = R"({"id": "R1", "asset": "A1", "location": {
  "timestamp": 1700000000000,
  "address": {"name": "北京市东城区", "context": [{"type": "city", "name": "北京市", "code": "110100"}]},
  "place": {"type": "poi", "name": "天安门", "distance": {"line": 12.5}},
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

inline const char* const kTwoPlacesJson = R"([
  {"id": "G1", "geoPoint": "116.397,39.908", "type": "poi", "name": "天安门", "code": "110101",
   "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12},
  {"id": "G2", "geoPoint": "116.391,39.906", "type": "poi", "name": "中山公园", "code": "110101",
   "categories": [{"id": "park", "name": "公园"}],
   "address": {"name": "东城区", "context": []}, "relevance": 1, "distance": 300.5}])";

inline Device testDevice() {
  return {.manufacturer = "Framework",
          .model = "Laptop 13",
          .systemName = "Debian GNU/Linux",
          .systemVersion = "12",
          .identifierForVendor = kVendorId};
}

inline Location testFix() {
  Location fix;
  fix.coordinate = {.latitude = 39.9042, .longitude = 116.4074};
  fix.altitude = 43.5;
  fix.horizontalAccuracy = 8;
  fix.verticalAccuracy = 3;
  fix.speed = 1.25;
  return fix;
}

/// An address on which nothing listens: a server's port right after it stopped.
inline std::string closedServiceURL() {
  test::TestServer gone;
  const std::string url = gone.baseURL();
  gone.stop();
  return url;
}

inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ServiceTestEnvironment : public testing::Test {
 protected:
  void SetUp() override {
    setModuleAccessKey("");
    setModulePoiKey("");
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
    Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Shows where you are"));
    Device::setCurrent(testDevice());
    TkClientLocation::setIsLogEnabled(false);
    delegate = std::make_shared<RecordingDelegate>();
    facade = makeFacade(delegate);
  }

  void TearDown() override {
    if (capturing_) {
      (void)stopLog();
    }
    MainQueue::shared().poll();
    facade.reset();
    TkClientLocation::setIsLogEnabled(false);
    ServiceRequest::setTimeoutIntervalForTesting(std::nullopt);
    Device::setCurrent(std::nullopt);
    Bundle::main().removeObject("NSLocationWhenInUseUsageDescription");
    setModuleAccessKey("");
    setModulePoiKey("");
  }

  /// A facade with consent and key "AK", pointed at `server`; its banner is kept out of the
  /// test output (while a log is captured it joins the log).
  std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> with) {
    if (!capturing_) {
      testing::internal::CaptureStdout();
    }
    auto made = TkClientLocation::create(std::move(with));
    if (!capturing_) {
      (void)testing::internal::GetCapturedStdout();
    }
    made->serviceURL = server.baseURL();
    made->setAgreePrivacy(true);
    made->initKey("AK");
    return made;
  }

  /// Drives the main queue until `recorder` holds `count` events.
  static bool waitForEvents(const RequiredOnlyDelegate& recorder, std::size_t count) {
    return MainQueue::shared().runUntil([&] { return recorder.events.size() >= count; }, std::chrono::seconds(20));
  }

  /// Turns the log on and collects standard output until `stopLog()`.
  void startLog() {
    TkClientLocation::setIsLogEnabled(true);
    testing::internal::CaptureStdout();
    capturing_ = true;
    logSoFar_.clear();
  }
  std::vector<std::string> stopLog() {
    TkClientLocation::setIsLogEnabled(false);
    capturing_ = false;
    return linesOf(logSoFar_ + testing::internal::GetCapturedStdout());
  }

  /// Drives the main queue until the captured log holds `line` `count` times: the delivery
  /// that wrote it has finished, callback included.
  bool waitForLogLine(const std::string& line, std::size_t count) {
    return MainQueue::shared().runUntil(
        [&] {
          logSoFar_ += testing::internal::GetCapturedStdout();
          testing::internal::CaptureStdout();
          const auto lines = linesOf(logSoFar_);
          return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= count;
        },
        std::chrono::seconds(20));
  }

  test::TestServer server;
  std::shared_ptr<RecordingDelegate> delegate;
  std::shared_ptr<TkClientLocation> facade;

 private:
  bool capturing_ = false;
  std::string logSoFar_;
};

}  // namespace tovik::testing_support
