#include "tovik/platform/location_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/scripted_location_provider.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;

MainQueue& queue() { return MainQueue::shared(); }

// Metres per degree of latitude on the sphere the manager measures with.
constexpr double kMetresPerDegree = 6371008.8 * 3.14159265358979323846 / 180.0;

Location fixAt(double northMetres) {
  Location fix;
  fix.coordinate = {39.9087 + northMetres / kMetresPerDegree, 116.3975};
  fix.horizontalAccuracy = 5.0;
  return fix;
}

class RecordingDelegate : public LocationManagerDelegate {
 public:
  void didUpdateLocations(LocationManager& manager, const std::vector<Location>& locations) override {
    batches.push_back(locations);
    if (onLocation) onLocation(manager);
  }
  void didFailWithError(LocationManager&, const Error& error) override { errors.push_back(error); }

  std::vector<std::vector<Location>> batches;
  std::vector<Error> errors;
  std::function<void(LocationManager&)> onLocation;
};

class LocationManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    LocationServices::setProvider(provider);
    manager = std::make_unique<LocationManager>();
    manager->setDelegate(delegate);
  }
  void TearDown() override {
    manager.reset();
    LocationServices::setProvider(nullptr);
  }

  std::shared_ptr<ScriptedLocationProvider> provider = std::make_shared<ScriptedLocationProvider>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<LocationManager> manager;
};

TEST_F(LocationManagerTest, ContinuousUpdatesFollowStartAndStop) {
  manager->startUpdatingLocation();
  provider->pushLocation(fixAt(0));
  provider->pushLocation(fixAt(100));
  ASSERT_EQ(delegate->batches.size(), 2u);
  EXPECT_EQ(delegate->batches[1].size(), 1u);
  manager->stopUpdatingLocation();
  EXPECT_EQ(provider->starts(), 1);
  EXPECT_EQ(provider->stops(), 1);
  provider->pushLocation(fixAt(200));
  EXPECT_EQ(delegate->batches.size(), 2u);
}

TEST_F(LocationManagerTest, DistanceFilterMeasuresFromTheLastDeliveredFix) {
  struct Case {
    double filter;
    std::vector<double> pushedNorthMetres;
    std::vector<double> deliveredNorthMetres;
  };
  const std::vector<Case> cases = {
      {10.0, {0, 5, 12, 15, 22.5, 22.5, 0}, {0, 12, 22.5, 0}},  // 15 is only 3 m past 12
      {3.0, {0, 2.9, 3.1, 3.1}, {0, 3.1}},  // a restart delivers its first fix, however close
      {-1.0, {0, 0, 0.5}, {0, 0, 0.5}},  // no filter
      {0.0, {0, 0}, {0, 0}},
  };
  for (const auto& c : cases) {
    delegate->batches.clear();
    manager->setDistanceFilter(c.filter);
    manager->startUpdatingLocation();
    for (const double north : c.pushedNorthMetres) provider->pushLocation(fixAt(north));
    manager->stopUpdatingLocation();
    ASSERT_EQ(delegate->batches.size(), c.deliveredNorthMetres.size()) << "filter " << c.filter;
    for (std::size_t i = 0; i < c.deliveredNorthMetres.size(); ++i) {
      EXPECT_NEAR(delegate->batches[i][0].coordinate.latitude,
                  fixAt(c.deliveredNorthMetres[i]).coordinate.latitude, 1e-12)
          << "filter " << c.filter << " fix " << i;
    }
  }
}

TEST_F(LocationManagerTest, RequestLocationAnswersOnceThenUnsubscribes) {
  manager->setDistanceFilter(1000.0);
  manager->requestLocation();
  EXPECT_TRUE(provider->isUpdating());
  provider->pushLocation(fixAt(0));
  EXPECT_FALSE(provider->isUpdating());
  EXPECT_EQ(provider->stops(), 1);
  provider->pushLocation(fixAt(5000));
  ASSERT_EQ(delegate->batches.size(), 1u);

  // The pending time-out was cancelled with the answer.
  manager->setRequestLocationTimeoutForTesting(0.01);
  queue().runFor(50ms);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(LocationManagerTest, RequestLocationTimesOutWithOneError) {
  manager->setRequestLocationTimeoutForTesting(0.02);
  manager->requestLocation();
  ASSERT_TRUE(queue().runUntil([&] { return !delegate->errors.empty(); }, 10s));
  EXPECT_EQ(delegate->errors[0].domain(), LocationManager::kErrorDomain);
  EXPECT_EQ(delegate->errors[0].code(), LocationManager::kErrorLocationTimedOut);
  EXPECT_FALSE(delegate->errors[0].localizedDescription().empty());
  EXPECT_FALSE(provider->isUpdating());
  provider->pushLocation(fixAt(0));
  queue().runFor(30ms);
  EXPECT_EQ(delegate->errors.size(), 1u);
  EXPECT_TRUE(delegate->batches.empty());
}

TEST_F(LocationManagerTest, ProviderErrorEndsARequest) {
  manager->requestLocation();
  provider->pushError(Error("Test", 7, "no satellites"));
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->errors[0].code(), 7);
  EXPECT_FALSE(provider->isUpdating());
  provider->pushLocation(fixAt(0));
  EXPECT_TRUE(delegate->batches.empty());
}

TEST_F(LocationManagerTest, ProviderErrorsDuringUpdatesDoNotStopThem) {
  manager->startUpdatingLocation();
  provider->pushError(Error("Test", 1, "lost"));
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->errors.size(), 1u);
  EXPECT_EQ(delegate->batches.size(), 1u);
  EXPECT_TRUE(provider->isUpdating());
}

TEST_F(LocationManagerTest, RequestWhileUpdatingKeepsTheUpdates) {
  manager->setRequestLocationTimeoutForTesting(0.01);
  manager->setDistanceFilter(100.0);
  manager->startUpdatingLocation();
  provider->pushLocation(fixAt(0));
  manager->requestLocation();
  provider->pushLocation(fixAt(1));  // answers the request despite the filter, once
  provider->pushLocation(fixAt(2));  // filtered again
  EXPECT_EQ(delegate->batches.size(), 2u);
  EXPECT_TRUE(provider->isUpdating());
  queue().runFor(40ms);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(LocationManagerTest, StopCancelsAnOutstandingRequest) {
  manager->setRequestLocationTimeoutForTesting(0.01);
  manager->requestLocation();
  manager->stopUpdatingLocation();
  EXPECT_FALSE(provider->isUpdating());
  queue().runFor(40ms);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(LocationManagerTest, DestroyedManagerUnsubscribesAndNeverCallsBack) {
  manager->setRequestLocationTimeoutForTesting(0.01);
  manager->startUpdatingLocation();
  manager->requestLocation();
  manager.reset();
  EXPECT_FALSE(provider->isUpdating());
  provider->pushLocation(fixAt(0));
  queue().runFor(40ms);
  EXPECT_TRUE(delegate->batches.empty());
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(LocationManagerTest, DelegateMayDestroyTheManagerWhileCalled) {
  delegate->onLocation = [&](LocationManager&) { manager.reset(); };
  manager->startUpdatingLocation();
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->batches.size(), 1u);
  EXPECT_FALSE(provider->isUpdating());
}

TEST_F(LocationManagerTest, AuthorisationGoesToTheCurrentProvider) {
  provider->setAuthorizationStatus(AuthorizationStatus::notDetermined);
  provider->setAnswerToWhenInUseRequest(AuthorizationStatus::authorizedWhenInUse);
  manager->requestAlwaysAuthorization();  // no answer configured: unchanged
  EXPECT_EQ(LocationManager::authorizationStatus(), AuthorizationStatus::notDetermined);
  manager->requestWhenInUseAuthorization();
  EXPECT_EQ(LocationManager::authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  EXPECT_EQ(provider->whenInUseRequests(), 1);
  EXPECT_EQ(provider->alwaysRequests(), 1);
}

TEST_F(LocationManagerTest, ProviderRunsWhileAnyManagerListens) {
  auto other = std::make_unique<LocationManager>();
  auto otherDelegate = std::make_shared<RecordingDelegate>();
  other->setDelegate(otherDelegate);
  manager->startUpdatingLocation();
  other->startUpdatingLocation();
  EXPECT_EQ(provider->starts(), 1);
  // The first manager leaves while being called; the second still gets the same fix.
  delegate->onLocation = [](LocationManager& m) { m.stopUpdatingLocation(); };
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->batches.size(), 1u);
  EXPECT_EQ(otherDelegate->batches.size(), 1u);
  EXPECT_TRUE(provider->isUpdating());
  other->stopUpdatingLocation();
  EXPECT_EQ(provider->stops(), 1);
  EXPECT_FALSE(provider->isUpdating());
}

struct CountingListener : LocationProviderListener {
  void providerDidUpdateLocation(const Location&) override { ++locations; }
  void providerDidFail(const Error&) override {}
  int locations = 0;
};

TEST_F(LocationManagerTest, ProviderStopsWhenItsLastListenerExpires) {
  auto listener = std::make_shared<CountingListener>();
  provider->addListener(listener);
  provider->addListener(listener);  // once only
  provider->pushLocation(fixAt(0));
  EXPECT_EQ(listener->locations, 1);
  listener.reset();
  EXPECT_FALSE(provider->hasListeners());
  provider->pushLocation(fixAt(0));  // finds no one and stops
  EXPECT_FALSE(provider->isUpdating());
  EXPECT_EQ(provider->starts(), 1);
  EXPECT_EQ(provider->stops(), 1);
}

TEST(LocationServicesTest, DefaultProviderReportsThatItHasNoSource) {
  LocationServices::setProvider(nullptr);
  auto delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
  manager.setDelegate(delegate);
  manager.startUpdatingLocation();
  EXPECT_TRUE(delegate->errors.empty()) << "reported later, not inside the start";
  ASSERT_TRUE(queue().runUntil([&] { return !delegate->errors.empty(); }, 10s));
  EXPECT_NE(delegate->errors[0].localizedDescription().find("gpsd"), std::string::npos);
  EXPECT_EQ(LocationManager::authorizationStatus(), AuthorizationStatus::authorizedAlways);
  manager.stopUpdatingLocation();
}

TEST(LocationServicesTest, ManagerKeepsItsProviderUntilItStops) {
  auto first = std::make_shared<ScriptedLocationProvider>();
  auto second = std::make_shared<ScriptedLocationProvider>();
  LocationServices::setProvider(first);
  auto delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
  manager.setDelegate(delegate);
  manager.startUpdatingLocation();
  LocationServices::setProvider(second);
  EXPECT_EQ(LocationServices::provider(), second);
  first->pushLocation(fixAt(0));
  EXPECT_EQ(delegate->batches.size(), 1u);
  manager.stopUpdatingLocation();
  manager.startUpdatingLocation();
  EXPECT_FALSE(first->isUpdating());
  EXPECT_TRUE(second->isUpdating());
  manager.stopUpdatingLocation();
  LocationServices::setProvider(nullptr);
}

}  // namespace
}  // namespace tovik
