#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/client_test_env.h"
#include "support/test_server.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/location/location_controller.h"
#include "tovik/platform/timer.h"

namespace tovik {
namespace {

using testing_env::fixAt;
using testing_env::kWhenInUseKey;
using testing_env::setNetworkFlags;
using testing_env::stdoutOf;

constexpr const char* kMissingWhenInUse = "Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";

class LocationSessionTest : public testing_env::ClientTestEnvironment {
 protected:
  void SetUp() override {
    ClientTestEnvironment::SetUp();
    makeReadyClient();
  }

  /// Expects `result` to be the local answer for a fix at `wgs`.
  static void expectLocalResultFor(const std::shared_ptr<LocationRes>& result, Coordinate wgs) {
    ASSERT_NE(result, nullptr);
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(wgs);
    EXPECT_EQ(result->location->position->point->latitude, gcj.latitude);
    EXPECT_EQ(result->location->position->point->longitude, gcj.longitude);
  }

  const LocationController& controller() const { return *client->locateDelegate(); }
};

TEST_F(LocationSessionTest, DefaultSessionYieldsOneResultAndEnds) {
  client->startLocation();
  EXPECT_TRUE(client->isLocating());
  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([this] { client->startLocation(); }), "") << "a running session ignores a second start";
  setLogEnabled(false);

  push(fixAt(39.9087, 116.3975));
  ASSERT_EQ(delegate->results.size(), 1U);
  expectLocalResultFor(delegate->results[0], {39.9087, 116.3975});
  EXPECT_FALSE(client->isLocating());
  EXPECT_FALSE(provider->isUpdating());

  push(fixAt(39.95, 116.45));
  EXPECT_EQ(delegate->results.size(), 1U);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(LocationSessionTest, OfflineResultIsTheFixInGcj02StampedNow) {
  Clock::pin(1700000000.1234);
  client->startLocation();
  push(fixAt(31.2304, 121.4737));

  ASSERT_EQ(delegate->results.size(), 1U);
  const auto& result = delegate->results[0];
  expectLocalResultFor(result, {31.2304, 121.4737});
  EXPECT_NE(result->location->position->point->latitude, 31.2304) << "must be shifted into GCJ-02";
  EXPECT_EQ(result->location->timestamp, 1700000000123);
  EXPECT_EQ(result->id, "");
  EXPECT_EQ(result->asset, "");
  EXPECT_NE(result->location->address, nullptr);
  EXPECT_NE(result->location->place, nullptr);
}

TEST_F(LocationSessionTest, FastSessionStaysFastForLaterStarts) {
  client->startFastLocation();
  EXPECT_TRUE(controller().isFastOnceLocation());
  push(fixAt(30.0, 120.0, 20.0));
  push(fixAt(30.001, 120.0, 8.0));
  ASSERT_TRUE(runUntil([this] { return !delegate->results.empty(); }));
  expectLocalResultFor(delegate->results[0], {30.001, 120.0});
  EXPECT_FALSE(client->isLocating());

  client->startLocation();
  EXPECT_TRUE(client->isLocateOnce);
  EXPECT_TRUE(client->isFastLocation);
  EXPECT_TRUE(controller().isFastOnceLocation());
  push(fixAt(31.0, 121.0));
  ASSERT_TRUE(runUntil([this] { return delegate->results.size() == 2; }));
  EXPECT_EQ(delegate->results.size(), 2U);
}

TEST_F(LocationSessionTest, ContinuousSessionGivesFirstFixAtOnceThenNewestFixPerPeriod) {
  client->isLocateOnce = false;
  client->interval = 0.2;
  std::vector<double> newestLatitudeAtResult;
  delegate->onResult = [this, &newestLatitudeAtResult] {
    newestLatitudeAtResult.push_back(controller().locationPoint().coordinate.latitude);
  };
  client->startLocation();

  int pushed = 0;
  const auto pushNext = [this, &pushed] {
    provider->pushLocation(fixAt(39.9 + 0.001 * pushed, 116.4));  // ~111 m apart
    ++pushed;
  };
  pushNext();
  ASSERT_EQ(delegate->results.size(), 1U) << "the first fix is answered at once";
  ASSERT_TRUE(client->hasTimerSchedule());

  const auto feeder = Timer::scheduledTimer(0.04, true, [&pushNext](Timer&) { pushNext(); });
  const bool enough = runUntil([this] { return delegate->results.size() >= 5; });
  feeder->invalidate();
  ASSERT_TRUE(enough);

  const auto& results = delegate->results;
  expectLocalResultFor(results[0], {39.9, 116.4});
  for (std::size_t i = 0; i < results.size(); ++i) {
    expectLocalResultFor(results[i], {newestLatitudeAtResult[i], 116.4});
  }
  EXPECT_GT(newestLatitudeAtResult.back(), newestLatitudeAtResult.front());
  EXPECT_LT(results.size(), static_cast<std::size_t>(pushed)) << "paced by the timer, not by the fixes";
  client->stopLocation();
}

TEST_F(LocationSessionTest, ChangingIntervalMidSessionKeepsTheRunningPeriod) {
  client->isLocateOnce = false;
  client->interval = 0.1;
  client->startLocation();
  push(fixAt(39.9, 116.4));
  ASSERT_TRUE(client->hasTimerSchedule());

  client->interval = 3600.0;
  EXPECT_EQ(client->timerSchedule()->timeInterval(), 0.1);
  EXPECT_TRUE(runUntil([this] { return delegate->results.size() >= 3; }));
  client->stopLocation();

  // The next continuous session takes the new value at its first fix.
  client->startLocation();
  push(fixAt(39.95, 116.45));
  ASSERT_TRUE(client->hasTimerSchedule());
  EXPECT_EQ(client->timerSchedule()->timeInterval(), 3600.0);
}

class NonPositiveInterval : public LocationSessionTest, public testing::WithParamInterface<double> {};

TEST_P(NonPositiveInterval, DoesNotSpinTheMainQueue) {
  client->isLocateOnce = false;
  client->interval = GetParam();
  client->startLocation();
  push(fixAt(39.9, 116.4));
  ASSERT_TRUE(client->hasTimerSchedule());
  EXPECT_GE(client->timerSchedule()->timeInterval(), Timer::kMinimumRepeatInterval);

  // Other work still gets its turn while the timer repeats.
  bool otherWorkRan = false;
  MainQueue::shared().async([&otherWorkRan] { otherWorkRan = true; });
  EXPECT_TRUE(runUntil([&] { return otherWorkRan && delegate->results.size() >= 3; }));
  client->stopLocation();
}

INSTANTIATE_TEST_SUITE_P(Intervals, NonPositiveInterval, testing::Values(0.0, -5.0));

TEST_F(LocationSessionTest, FixWithZeroCoordinateOnlyLogs) {
  for (const Location& fix : {fixAt(0.0, 116.4), fixAt(39.9, 0.0)}) {
    client->startLocation();
    setLogEnabled(true);
    // The controller drops such fixes itself; the facade guards its own door too.
    const auto printed = stdoutOf([&] { client->locationSuccessWithLocation(fix); });
    setLogEnabled(false);
    EXPECT_EQ(printed.rfind("定位数据为空/无效\n", 0), 0U) << printed;
    EXPECT_TRUE(delegate->results.empty());
    EXPECT_TRUE(delegate->errors.empty());
    EXPECT_FALSE(client->isLocating());
  }
}

TEST_F(LocationSessionTest, FailedCheckEndsTheSessionAndAllowsANewOne) {
  Bundle::main().removeObject(kWhenInUseKey);
  client->startLocation();
  EXPECT_EQ(delegate->errors, std::vector<std::string>{std::string("定位失败：") + kMissingWhenInUse});
  EXPECT_FALSE(client->isLocating());

  Bundle::main().setObject(kWhenInUseKey, std::string("x"));
  client->startLocation();
  push(fixAt(39.9, 116.4));
  EXPECT_EQ(delegate->results.size(), 1U);
}

TEST_F(LocationSessionTest, PlatformErrorEndsASingleSession) {
  client->startLocation();
  pushError(Error("TovikLocation", 2, "信号丢失"));
  EXPECT_EQ(delegate->errors, std::vector<std::string>{"定位失败：信号丢失"});
  EXPECT_FALSE(client->isLocating());
  push(fixAt(39.9, 116.4));
  EXPECT_TRUE(delegate->results.empty());
}

TEST_F(LocationSessionTest, StopLocationWhenIdleTouchesNothing) {
  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([this] { client->stopLocation(); }), "");
  EXPECT_EQ(provider->stops(), 0);
  EXPECT_FALSE(client->locateDelegate()->manager()->allowsBackgroundLocationUpdates());
}

// After a failure in a continuous session the timer and controller go on; stopLocation
// must still be able to end them.
TEST_F(LocationSessionTest, StopLocationEndsWhatAFailureLeftRunning) {
  client->isLocateOnce = false;
  client->interval = 0.1;
  client->startLocation();
  push(fixAt(39.9, 116.4));
  pushError(Error("TovikLocation", 2, "信号丢失"));
  EXPECT_EQ(delegate->errors, std::vector<std::string>{"定位失败：信号丢失"});
  EXPECT_FALSE(client->isLocating());
  EXPECT_TRUE(controller().isUpdating());
  EXPECT_TRUE(runUntil([this] { return delegate->results.size() >= 2; })) << "the timer keeps delivering";

  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([this] { client->stopLocation(); }), "stopLocation\n手动停止定位成功\n");
  setLogEnabled(false);
  EXPECT_FALSE(client->hasTimerSchedule());
  EXPECT_FALSE(controller().isUpdating());
  EXPECT_FALSE(provider->isUpdating());
  const auto delivered = delegate->results.size();
  runPast(0.5);
  EXPECT_EQ(delegate->results.size(), delivered);
}

TEST_F(LocationSessionTest, DestroyingTheFacadeEndsItsTimerAndController) {
  client->isLocateOnce = false;
  client->interval = 0.1;
  client->startLocation();
  push(fixAt(39.9, 116.4));
  const std::weak_ptr<Timer> timer = client->timerSchedule();
  const std::weak_ptr<LocationController> weakController = client->locateDelegate();
  ASSERT_FALSE(timer.expired());

  client.reset();
  const auto left = timer.lock();
  EXPECT_TRUE(left == nullptr || !left->isValid());
  EXPECT_TRUE(weakController.expired());
  EXPECT_FALSE(provider->isUpdating());
}

// An application may let go of the facade from inside a callback, also one run by the
// interval timer.
TEST_F(LocationSessionTest, FacadeMayBeReleasedFromItsOwnCallback) {
  for (const bool once : {true, false}) {
    makeReadyClient();
    client->isLocateOnce = once;
    client->interval = 0.05;
    delegate->results.clear();
    delegate->onResult = [this, once] {
      if (once || delegate->results.size() == 2) {
        client.reset();
      }
    };
    client->startLocation();
    push(fixAt(39.9, 116.4));
    ASSERT_TRUE(runUntil([this] { return client == nullptr; }));
    EXPECT_FALSE(provider->isUpdating());
  }
}

// Online, the fix goes to the service and its answer is what the application receives.
TEST_F(LocationSessionTest, OnlineFixGoesToTheService) {
  test::TestServer server;
  LocationRes answer;
  answer.id = "from-service";
  answer.location->timestamp = 1700000000000;
  answer.location->position->point->latitude = 39.91;
  answer.location->position->point->longitude = 116.41;
  server.respond("POST", "/location/hub/v1/track_points", test::CannedResponse::json(200, answer.encode().dump()));
  setNetworkFlags(NetworkChecker::kReachable);
  client->serviceURL = server.baseURL();

  client->startLocation();
  push(fixAt(39.9087, 116.3975));
  EXPECT_TRUE(delegate->results.empty()) << "no local result while online";
  EXPECT_FALSE(client->isLocating());
  ASSERT_TRUE(runUntil([this] { return !delegate->results.empty() || !delegate->errors.empty(); }));
  ASSERT_EQ(delegate->results.size(), 1U) << (delegate->errors.empty() ? "" : delegate->errors[0]);
  EXPECT_EQ(delegate->results[0]->id, "from-service");
  EXPECT_EQ(delegate->results[0]->location->position->point->latitude, 39.91);
  EXPECT_EQ(server.requestCount(), 1U);
  EXPECT_EQ(server.lastRequest().queryValue("access_key"), "test-key");
}

}  // namespace
}  // namespace tovik
