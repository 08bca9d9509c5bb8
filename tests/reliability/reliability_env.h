#pragma once

// The world of the reliability tests: facades with consent and a distinctive access key,
// a scripted location provider, a recording delegate that notes the thread and whether
// the facade was already released, and certificates the shared client trusts or not.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "tovik/client/location_delegate.h"
#include "tovik/services/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"
#include "tovik/platform/bundle.h"
#include "tovik/platform/location.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/scripted_location_provider.h"
#include "tovik/services/service_request.h"

namespace tovik::reliability {

/// Distinctive, so that any text that leaks it is found.
inline constexpr const char* kAccessKey = "AK-5ecret-7f3c9e";

inline const char* const kLocationJson = R"({"id": "R1", "asset": "A1", "location": {"timestamp": 1700000000000,
  "address": {"name": "北京市东城区", "context": [{"type": "city", "name": "北京市", "code": "110100"}]},
  "place": {"type": "poi", "name": "天安门", "distance": {"line": 12.5}},
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

inline const char* const kPlacesJson = R"([{"id": "G1", "geoPoint": "116.397,39.908", "type": "poi",
  "name": "天安门", "code": "110101", "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12}])";

/// Certificate files made with the `openssl` command for the TLS faults, under a
/// temporary folder removed again with the process's test environment.
struct TlsFiles {
  std::string caFile;  // the authority the shared client trusts
  std::string wrongHostCertificate, wrongHostKey;  // issued by that authority for another host
  std::string selfSignedCertificate, selfSignedKey;  // for 127.0.0.1, issued by nobody trusted
};
const TlsFiles& tlsFiles();

/// Resident set size and open descriptors of this process.
std::int64_t residentKilobytes();
int openDescriptors();

/// One callback as the application saw it.
struct Heard {
  std::string kind;  // "location", "reverse", "geocode", "poi", "error"
  std::string msg;   // the error text
  bool onMainThread = false;
  bool afterRelease = false;
  bool ownerGone = false;  // the facade it came through no longer existed
};

class Recorder : public LocationDelegate {
 public:
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>&) override { note("location"); }
  void onLocationErrorWithMsg(const std::string& msg) override { note("error", msg); }
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>&) override { note("reverse"); }
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) override { note("geocode"); }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) override { note("poi"); }

  std::vector<Heard> events;
  /// Set by the test once it has dropped its own reference to the facade.
  bool released = false;
  /// The facade this delegate listens to.
  std::weak_ptr<TkClientLocation> owner;

 private:
  void note(std::string kind, std::string msg = {}) {
    events.push_back({std::move(kind), std::move(msg), MainQueue::shared().isMainThread(), released, owner.expired()});
  }
};

class ReliabilityTest : public testing::Test {
 protected:
  void SetUp() override {
    setModuleAccessKey("");
    setModulePoiKey("");
    provider = std::make_shared<ScriptedLocationProvider>();
    LocationServices::setProvider(provider);
    Bundle::main().setObject("NSLocationWhenInUseUsageDescription", std::string("Shows where you are"));
    TkClientLocation::setIsLogEnabled(false);
  }

  void TearDown() override {
    MainQueue::shared().poll();
    NetworkChecker::setFlagsSourceForTesting(nullptr);
    ServiceRequest::setTimeoutIntervalForTesting(std::nullopt);
    TkClientLocation::setIsLogEnabled(false);
    Bundle::main().removeObject("NSLocationWhenInUseUsageDescription");
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
    setModuleAccessKey("");
    setModulePoiKey("");
  }

  /// A facade with consent and `kAccessKey`, pointed at `serviceURL`; its banner is kept out
  /// of the test output unless the test captures it.
  static std::shared_ptr<TkClientLocation> makeFacade(std::shared_ptr<LocationDelegate> delegate,
                                                      const std::string& serviceURL, bool quiet = true) {
    std::optional<test::LogCapture> silence;
    if (quiet) {
      silence.emplace();
    }
    auto facade = TkClientLocation::create(std::move(delegate));
    silence.reset();
    facade->serviceURL = serviceURL;
    facade->setAgreePrivacy(true);
    facade->initKey(kAccessKey);
    return facade;
  }

  static Location fix(double latitude = 39.9042, double longitude = 116.4074) {
    Location location;
    location.coordinate = {latitude, longitude};
    location.horizontalAccuracy = 5;
    return location;
  }

  static bool runUntil(const std::function<bool()>& predicate, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    return MainQueue::shared().runUntil(predicate, timeout);
  }

  std::shared_ptr<ScriptedLocationProvider> provider;
};

}  // namespace tovik::reliability
