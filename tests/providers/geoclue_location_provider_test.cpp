#include "tovik/providers/geoclue_location_provider.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/geoclue_world.h"
#include "tovik/providers/location_manager.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::GeoclueWorld;

const std::string kLog = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";

// What a provider reported to one listener, on the main thread.
struct Recorder : LocationProviderListener {
  std::vector<Location> fixes;
  std::vector<Error> errors;
  void providerDidUpdateLocation(const Location& location) override { fixes.push_back(location); }
  void providerDidFail(const Error& error) override { errors.push_back(error); }
};

bool runUntil(const std::function<bool()>& predicate, std::chrono::steady_clock::duration timeout = 20s) {
  return MainQueue::shared().runUntil(predicate, timeout);
}

// The index of the log epoch at `fix`, or -1 (GeoClue rounds nothing away that matters).
int epochIndex(const std::vector<GeoclueWorld::Epoch>& epochs, const Location& fix) {
  for (std::size_t i = 0; i < epochs.size(); ++i) {
    if (std::abs(epochs[i].latitude - fix.coordinate.latitude) < 1e-7 &&
        std::abs(epochs[i].longitude - fix.coordinate.longitude) < 1e-7) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

class GeoclueProviderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(world.problem(), "") << "GeoClue test world"; }

  std::shared_ptr<GeoclueLocationProvider> provider(const std::string& desktopId = GeoclueWorld::kAllowedApp,
                                                    double distanceFilter = -1.0) {
    return std::make_shared<GeoclueLocationProvider>(
        options(world.busAddress(), desktopId, distanceFilter));
  }

  static GeoclueLocationProvider::Options options(std::string address, std::string desktopId,
                                                  double distanceFilter = -1.0) {
    GeoclueLocationProvider::Options o;
    o.busAddress = std::move(address);
    o.desktopId = std::move(desktopId);
    o.distanceFilter = distanceFilter;
    return o;
  }

  GeoclueWorld world{kLog};
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

// GeoClue 2.6 turns HDOP into metres in steps: up to 1 is 0 m, up to 2 is 1 m.
double geoclueAccuracy(double hdop) { return hdop <= 1.0 ? 0.0 : hdop <= 2.0 ? 1.0 : -1.0; }

TEST_F(GeoclueProviderTest, ContinuousSessionDeliversTheLogInOrder) {
  const auto source = provider();
  EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::notDetermined);
  source->addListener(recorder);
  ASSERT_TRUE(runUntil([&] { return recorder->fixes.size() >= 8 || !recorder->errors.empty(); }))
      << world.geoclueLog();
  ASSERT_TRUE(recorder->errors.empty()) << recorder->errors.front().localizedDescription();
  EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::authorizedAlways);
  EXPECT_TRUE(source->isConnected());

  const auto epochs = GeoclueWorld::epochsOf(kLog);
  int previous = -1;
  for (const auto& fix : recorder->fixes) {
    const int index = epochIndex(epochs, fix);
    ASSERT_GT(index, previous) << fix.coordinate.latitude << "," << fix.coordinate.longitude;
    previous = index;
    EXPECT_EQ(fix.horizontalAccuracy, geoclueAccuracy(epochs[index].hdop)) << index;
    EXPECT_NEAR(fix.altitude, 44.4, 0.2);
    EXPECT_EQ(fix.verticalAccuracy, -1.0);
    EXPECT_NEAR(fix.speed, 2.72 * 1852.0 / 3600.0, 0.01);
    EXPECT_NEAR(fix.course, 90.0, 1e-9);
    EXPECT_LT(std::chrono::abs(fix.timestamp - std::chrono::system_clock::now()), 24h);
  }
  source->removeListener(recorder.get());
  EXPECT_FALSE(source->isConnected());
}

struct RequestDelegate : LocationManagerDelegate {
  std::vector<Location> fixes;
  std::vector<Error> errors;
  void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
    fixes.insert(fixes.end(), locations.begin(), locations.end());
  }
  void didFailWithError(LocationManager&, const Error& error) override { errors.push_back(error); }
};

TEST_F(GeoclueProviderTest, SingleRequestGetsOneFixAndStops) {
  const auto source = provider();
  LocationServices::setProvider(source);
  const auto delegate = std::make_shared<RequestDelegate>();
  {
    LocationManager manager;
    manager.setDelegate(delegate);
    manager.requestLocation();
    ASSERT_TRUE(runUntil([&] { return !delegate->fixes.empty() || !delegate->errors.empty(); }));
    ASSERT_TRUE(delegate->errors.empty()) << delegate->errors.front().localizedDescription();
    // Later fixes of the same session do not reach a finished request.
    MainQueue::shared().runFor(500ms);
    EXPECT_EQ(delegate->fixes.size(), 1U);
    EXPECT_FALSE(source->hasListeners());
  }
  LocationServices::setProvider(nullptr);
}

// The ways a session cannot get GeoClue's fixes, each reported once with its own error.
TEST_F(GeoclueProviderTest, RefusalAndAbsenceAreReportedOnce) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<GeoclueLocationProvider>()> make;
    long code;
    std::vector<std::string> words;
    AuthorizationStatus status;
  };
  const std::vector<Case> cases = {
      {"refused by GeoClue's configuration", [&] { return provider(GeoclueWorld::kRefusedApp); },
       GeoclueLocationProvider::kErrorDenied,
       {GeoclueWorld::kRefusedApp, "disallowed", "/etc/geoclue/geoclue.conf", "allowed=true", "代理"},
       AuthorizationStatus::denied},
      {"no bus at the address",
       [] {
         return std::make_shared<GeoclueLocationProvider>(options("unix:path=/nonexistent/bus", ""));
       },
       GeoclueLocationProvider::kErrorUnavailable, {"D-Bus", "/nonexistent/bus"}, AuthorizationStatus::notDetermined},
      {"no agent, so GeoClue holds the client",
       [&] {
         world.killAgent();
         return provider();
       },
       GeoclueLocationProvider::kErrorDenied, {GeoclueWorld::kAllowedApp, "授权代理（agent）", "没有代理应答", "demos/agent"},
       AuthorizationStatus::denied},
      {"GeoClue not on the bus",
       [&] {
         world.killGeoclue();
         return provider();
       },
       GeoclueLocationProvider::kErrorUnavailable, {"GeoClue2", "org.freedesktop.GeoClue2", "geoclue-2.0"},
       AuthorizationStatus::notDetermined},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto source = c.make();
    const auto listener = std::make_shared<Recorder>();
    source->addListener(listener);
    // GeoClue answers at once, save when it waits for an agent (the provider gives up after 5 s).
    ASSERT_TRUE(runUntil([&] { return !listener->errors.empty(); }, 10s));
    // The reader keeps trying (0.5 s, 1 s, ...) without saying it again.
    MainQueue::shared().runFor(1800ms);
    ASSERT_EQ(listener->errors.size(), 1U);
    const Error& error = listener->errors.front();
    EXPECT_EQ(error.domain(), GeoclueLocationProvider::kErrorDomain);
    EXPECT_EQ(error.code(), c.code);
    for (const auto& word : c.words) EXPECT_NE(error.localizedDescription().find(word), std::string::npos) << word;
    EXPECT_EQ(source->authorizationStatus(), c.status);
    ASSERT_TRUE(source->currentFailure().has_value());
    EXPECT_TRUE(listener->fixes.empty());
    source->removeListener(listener.get());
  }
}

TEST_F(GeoclueProviderTest, SessionResumesAfterGeoclueRestarts) {
  const auto source = provider();
  source->addListener(recorder);
  ASSERT_TRUE(runUntil([&] { return recorder->fixes.size() >= 2; })) << world.geoclueLog();
  world.killGeoclue();
  ASSERT_TRUE(runUntil([&] { return !source->isConnected(); }, 5s));
  ASSERT_TRUE(world.startGeoclue()) << world.geoclueLog();
  const std::size_t before = recorder->fixes.size();
  EXPECT_TRUE(runUntil([&] { return recorder->fixes.size() >= before + 2; }, 20s));
  EXPECT_TRUE(source->isConnected());
  EXPECT_EQ(source->authorizationStatus(), AuthorizationStatus::authorizedAlways);
  source->removeListener(recorder.get());
}

// The bus as dbus-monitor sees it: the client is configured, started, stopped and deleted.
TEST_F(GeoclueProviderTest, StoppingSendsStopAndDeleteClient) {
  test::ChildProcess monitor({"/usr/bin/dbus-monitor", "--address", world.busAddress(),
                              "type='method_call',destination='org.freedesktop.GeoClue2'"});
  ASSERT_TRUE(monitor.waitForLines(1, 5s));
  const auto source = provider(GeoclueWorld::kAllowedApp, 2.5);
  source->addListener(recorder);
  ASSERT_TRUE(runUntil([&] { return !recorder->fixes.empty(); })) << world.geoclueLog();
  source->removeListener(recorder.get());
  MainQueue::shared().runFor(1s);
  monitor.signal(SIGTERM);
  const std::string bus = monitor.finish(5s).out;

  std::size_t at = 0;
  for (const std::string step : {"member=CreateClient", "string \"DesktopId\"", "string \"tovik-geoclue-test\"",
                                 "string \"RequestedAccuracyLevel\"", "uint32 8", "string \"DistanceThreshold\"",
                                 "uint32 2", "member=Start", "member=Stop", "member=DeleteClient"}) {
    const auto found = bus.find(step, at);
    ASSERT_NE(found, std::string::npos) << step << " after offset " << at << " in\n" << bus;
    at = found + step.size();
  }
}

}  // namespace
}  // namespace tovik
