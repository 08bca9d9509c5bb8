#include "tovik/providers/location_manager.h"
#include "tovik/providers/location_manager_probe.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "tovik/system/earth.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/scripted_location_provider.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using Fixes = std::vector<double>;
using Log = std::vector<std::string>;
using Counts = std::tuple<int, int, bool>;  // provider starts, stops, updating now

MainQueue& queue() { return MainQueue::shared(); }

// Metres per degree of latitude on the sphere the manager measures with.
constexpr double kMetresPerDegree = kEarthRadius * 3.14159265358979323846 / 180.0;

// A fix that many metres north of the start, tagged with that number in its altitude.
Location fixAt(double northMetres) {
  Location fix;
  fix.coordinate = {39.9087 + northMetres / kMetresPerDegree, 116.3975};
  fix.altitude = northMetres;
  fix.horizontalAccuracy = 5.0;
  return fix;
}

// Notes the tag of every fix, and each error as "<domain> <code>", heard from a manager or a provider.
class Recorder : public LocationManagerDelegate, public LocationProviderListener {
 public:
  void didUpdateLocations(LocationManager& manager, const std::vector<Location>& locations) override {
    for (const auto& fix : locations) fixes.push_back(fix.altitude);
    if (onLocation) onLocation(manager);
  }
  void didFailWithError(LocationManager&, const Error& error) override { providerDidFail(error); }
  void providerDidUpdateLocation(const Location& fix) override { fixes.push_back(fix.altitude); }
  void providerDidFail(const Error& error) override {
    errors.push_back(error.domain() + " " + std::to_string(error.code()));
    lastError = error;
  }

  Fixes fixes;
  Log errors;
  Error lastError{"", 0, ""};
  std::function<void(LocationManager&)> onLocation;
};

class LocationManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    LocationServices::setProvider(provider);
    manager->setDelegate(delegate);
    LocationManagerProbe::setRequestLocationTimeout(*manager, 0.01);
  }
  void TearDown() override {
    manager.reset();
    LocationServices::setProvider(nullptr);
  }
  Counts counts() const { return {provider->starts(), provider->stops(), provider->isUpdating()}; }
  // Runs the queue well past the request time-out.
  static void settle() { queue().runFor(40ms); }

  std::shared_ptr<ScriptedLocationProvider> provider = std::make_shared<ScriptedLocationProvider>();
  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  std::unique_ptr<LocationManager> manager = std::make_unique<LocationManager>();
};

TEST_F(LocationManagerTest, UpdatesFlowBetweenStartAndStopThroughTheDistanceFilter) {
  const struct {
    double filter;
    std::vector<double> pushedNorthMetres;
    Fixes delivered;  // measured from the last delivered fix
  } cases[] = {
      {10.0, {0, 5, 12, 15, 22.5, 22.5, 0}, {0, 12, 22.5, 0}},  // 15 is only 3 m past 12
      {3.0, {0, 2.9, 3.1, 3.1}, {0, 3.1}},  // a restart delivers its first fix, however close
      {-1.0, {0, 0, 0.5}, {0, 0, 0.5}},  // no filter
      {0.0, {0, 0}, {0, 0}},
  };
  for (const auto& c : cases) {
    delegate->fixes.clear();
    manager->setDistanceFilter(c.filter);
    manager->startUpdatingLocation();
    provider->pushError(Error("Test", 1, "lost"));  // passed on; the updates go on
    for (const double north : c.pushedNorthMetres) provider->pushLocation(fixAt(north));
    manager->stopUpdatingLocation();
    provider->pushLocation(fixAt(1000));
    EXPECT_EQ(delegate->fixes, c.delivered) << "filter " << c.filter;
  }
  EXPECT_EQ(delegate->errors, Log(4, "Test 1"));
  EXPECT_EQ(counts(), (Counts{4, 4, false}));
}

TEST_F(LocationManagerTest, RequestLocationAnswersOnceDespiteTheFilterAndEndsQuietly) {
  manager->setDistanceFilter(1000.0);
  manager->requestLocation();
  EXPECT_EQ(counts(), (Counts{1, 0, true}));
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(counts(), (Counts{1, 1, false}));
  provider->pushLocation(fixAt(5000));

  manager->requestLocation();  // a stop cancels it
  manager->stopUpdatingLocation();

  manager->startUpdatingLocation();  // a request while updating leaves the updates running
  provider->pushLocation(fixAt(0));
  manager->requestLocation();
  provider->pushLocation(fixAt(1));  // answers the request, once
  provider->pushLocation(fixAt(2));
  settle();
  EXPECT_EQ(delegate->fixes, (Fixes{0, 0, 1}));
  EXPECT_TRUE(delegate->errors.empty()) << "the time-outs were cancelled";
  EXPECT_EQ(counts(), (Counts{3, 2, true}));
}

TEST_F(LocationManagerTest, RequestLocationEndsWithOneErrorOnTimeOutOrProviderError) {
  manager->requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !delegate->errors.empty(); }, 10s));
  EXPECT_FALSE(delegate->lastError.localizedDescription().empty());
  manager->requestLocation();
  provider->pushError(Error("Test", 7, "no satellites"));
  provider->pushLocation(fixAt(0));
  settle();
  const std::string timedOut =
      std::string(LocationManager::kErrorDomain) + " " + std::to_string(LocationManager::kErrorLocationTimedOut);
  EXPECT_EQ(delegate->errors, (Log{timedOut, "Test 7"}));
  EXPECT_TRUE(delegate->fixes.empty());
  EXPECT_EQ(counts(), (Counts{2, 2, false}));
}

TEST_F(LocationManagerTest, DestroyedManagerUnsubscribesAndNeverCallsBack) {
  manager->startUpdatingLocation();
  manager->requestLocation();
  manager.reset();
  provider->pushLocation(fixAt(0));
  settle();
  EXPECT_TRUE(delegate->fixes.empty() && delegate->errors.empty());
  EXPECT_EQ(counts(), (Counts{1, 1, false}));

  // Also from inside its own callback.
  manager = std::make_unique<LocationManager>();
  manager->setDelegate(delegate);
  delegate->onLocation = [&](LocationManager&) { manager.reset(); };
  manager->startUpdatingLocation();
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->fixes, Fixes{0});
  EXPECT_EQ(counts(), (Counts{2, 2, false}));
}

TEST_F(LocationManagerTest, ProviderRunsWhileAnyListenerIsAlive) {
  auto other = std::make_unique<LocationManager>();
  auto otherDelegate = std::make_shared<Recorder>();
  other->setDelegate(otherDelegate);
  manager->startUpdatingLocation();
  other->startUpdatingLocation();
  // The first manager leaves while being called; the second still gets the same fix.
  delegate->onLocation = [](LocationManager& m) { m.stopUpdatingLocation(); };
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->fixes, Fixes{0});
  EXPECT_EQ(otherDelegate->fixes, Fixes{0});
  EXPECT_EQ(counts(), (Counts{1, 0, true}));
  other->stopUpdatingLocation();
  EXPECT_EQ(counts(), (Counts{1, 1, false}));

  // A listener that expires without unsubscribing stops the provider at the next delivery.
  auto listener = std::make_shared<Recorder>();
  provider->addListener(listener);
  provider->addListener(listener);  // once only
  provider->pushLocation(fixAt(1));
  EXPECT_EQ(listener->fixes, Fixes{1});
  listener.reset();
  EXPECT_FALSE(provider->hasListeners());
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(counts(), (Counts{2, 2, false}));
}

// The provider is chosen at each start and kept until the stop; authorisation is read from the current one.
TEST_F(LocationManagerTest, ProviderIsChosenAtStartAndTheDefaultReportsItHasNoSource) {
  manager->startUpdatingLocation();
  LocationServices::setProvider(nullptr);
  provider->pushLocation(fixAt(0));
  manager->stopUpdatingLocation();
  manager->startUpdatingLocation();
  EXPECT_EQ(delegate->fixes, Fixes{0});
  EXPECT_EQ(counts(), (Counts{1, 1, false}));
  EXPECT_TRUE(delegate->errors.empty()) << "reported later, not inside the start";
  ASSERT_TRUE(queue().runUntil([&] { return !delegate->errors.empty(); }, 10s));
  EXPECT_NE(delegate->lastError.localizedDescription().find("gpsd"), std::string::npos);
  // The default chooses its source at start; with none found, none has answered yet.
  EXPECT_EQ(LocationManager::authorizationStatus(), AuthorizationStatus::notDetermined);
  manager->stopUpdatingLocation();
}

}  // namespace
}  // namespace tovik
