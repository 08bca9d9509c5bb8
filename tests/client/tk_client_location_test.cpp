#include "tovik/client/tk_client_location.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "location/location_test_env.h"
#include "support/recording_delegate.h"
#include "support/test_server.h"
#include "tovik/client/location_delegate.h"
#include "tovik/client/tk_client_location_probe.h"
#include "tovik/services/module_keys.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/info/tk_version.h"
#include "tovik/location/location_controller.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"
#include "tovik/system/clock.h"
#include "tovik/runloop/timer.h"

namespace tovik::test {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* kNotAgreed = "您未同意隐私政策";
constexpr const char* kNoAppkey = "您未配置 Appkey";

// Lets itself go inside each callback, as the header allows, and records whether it was
// still alive afterwards (only local copies are used once it let go).
struct SelfReplacingDelegate : LocationDelegate {
  std::weak_ptr<TkClientLocation> facade;
  std::shared_ptr<std::vector<bool>> aliveAfterLettingGo = std::make_shared<std::vector<bool>>();
  std::shared_ptr<bool> destroyed = std::make_shared<bool>(false);

  ~SelfReplacingDelegate() override { *destroyed = true; }
  void letGo() {
    const auto wasDestroyed = destroyed;
    const auto record = aliveAfterLettingGo;
    facade.lock()->callDelegate.reset();
    record->push_back(!*wasDestroyed);
  }
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>&) override { letGo(); }
  void onLocationErrorWithMsg(const std::string&) override { letGo(); }
};

template <class T>
constexpr bool constructibleFromBraces = requires { T({}); };
static_assert(!constructibleFromBraces<TkClientLocation>, "only create() makes a facade");

// A facade in a controlled world: scripted provider, offline network, clean keys and a
// delegate that records what reaches the application.
class TkClientLocationTest : public BasicLocationTest<KitWorld> {
 protected:
  void SetUp() override {
    BasicLocationTest::SetUp();
    NetworkChecker::setFlagsSourceForTesting([] { return std::optional<std::uint32_t>(0); });  // offline
    delegate = std::make_shared<RequiredOnlyRecorder>();
  }

  void TearDown() override {
    client.reset();
    BasicLocationTest::TearDown();
  }

  /// A facade with `with` as delegate; its banner is kept out of the test output.
  static std::shared_ptr<TkClientLocation> makeClient(std::shared_ptr<LocationDelegate> with) {
    std::shared_ptr<TkClientLocation> made;
    consoleOf([&] { made = TkClientLocation::create(std::move(with)); });
    return made;
  }

  /// A facade that has consent and a key, ready to locate.
  void makeReadyClient() {
    client = makeClient(delegate);
    client->setAgreePrivacy(true);
    client->initKey("test-key");
  }

  std::shared_ptr<RequiredOnlyRecorder> delegate;
  std::shared_ptr<TkClientLocation> client;
};

TEST_F(TkClientLocationTest, ConstructionAsksForAuthorisationAndPrintsTheBannerEvenWithLoggingOff) {
  std::shared_ptr<TkClientLocation> second;
  const auto printed = consoleOf([&] {
    client = TkClientLocation::create(delegate);
    second = TkClientLocation::create(nullptr);
  });
  const std::string banner =
      "[Tovik] SDK版本: " + TkVersion::sdkVersion() + " (build " + TkVersion::buildNumber() + ")\n";
  EXPECT_EQ(printed, banner + banner);
  EXPECT_EQ(provider->whenInUseRequests(), 2) << "at once, before any consent";

  // The controller refers back weakly: neither keeps the other alive.
  const std::weak_ptr<LocationController> controller = TkClientLocationProbe::locateDelegate(*client);
  EXPECT_EQ(controller.lock()->delegate.lock(), client);
  client.reset();
  EXPECT_TRUE(controller.expired());
}

// Consent comes before the key; only an absent key fails, an empty one passes. startLocation
// opens with the same checks and changes nothing when they fail.
TEST_F(TkClientLocationTest, ChecksConsentThenKey) {
  const struct {
    bool agree;
    std::optional<std::string> key;
    const char* message;  // none: passes
  } rows[] = {{false, std::nullopt, kNotAgreed}, {false, "k", kNotAgreed}, {true, std::nullopt, kNoAppkey},
              {true, "", nullptr}, {true, "k", nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.agree << " " << row.key.value_or("<none>"));
    delegate->heard.clear();
    client = makeClient(delegate);
    client->isAgree = row.agree;
    client->accesskey = row.key;
    setLogEnabled(true);
    bool passed = false;
    const auto printed = consoleOf([&] { passed = client->checkPrivacyAndKey(); });
    setLogEnabled(false);
    EXPECT_EQ(passed, row.message == nullptr);
    EXPECT_EQ(printed, row.message ? std::string(row.message) + "\n" : "");
    EXPECT_EQ(delegate->errors(), (row.message ? Strings{row.message} : Strings{}));

    const int startsBefore = provider->starts();
    client->startLocation();
    EXPECT_EQ(client->isLocating(), row.message == nullptr);
    EXPECT_EQ(provider->starts() > startsBefore, row.message == nullptr);
    EXPECT_EQ(delegate->errors(), (row.message ? Strings{row.message, row.message} : Strings{}));
    client->stopLocation();
  }
}

TEST_F(TkClientLocationTest, WithoutDelegateChecksStillLogAndALaterDelegateHears) {
  client = makeClient(nullptr);
  setLogEnabled(true);
  EXPECT_EQ(consoleOf([this] { EXPECT_FALSE(client->checkPrivacyAndKey()); }), std::string(kNotAgreed) + "\n");
  client->setLocationDelegate(delegate);
  client->setAgreePrivacy(true);
  EXPECT_FALSE(client->checkPrivacyAndKey());
  EXPECT_EQ(delegate->errors(), Strings{kNoAppkey});
}

TEST_F(TkClientLocationTest, KeysGoToPropertiesAndModuleKeysInOrder) {
  client = makeClient(delegate);
  const auto keys = [this] {
    return Strings{client->accesskey.value_or("-"), client->poiKey.value_or("-"), moduleAccessKey(), modulePoiKey()};
  };
  // Assigning the property satisfies the check but is not what requests carry.
  client->isAgree = true;
  client->accesskey = "direct";
  EXPECT_TRUE(client->checkPrivacyAndKey());
  EXPECT_EQ(keys(), (Strings{"direct", "-", "", ""}));
  client->initKey("k");
  EXPECT_EQ(keys(), (Strings{"k", "k", "k", "k"}));
  client->setPoiKey("p");
  EXPECT_EQ(keys(), (Strings{"k", "p", "k", "p"}));
  client->initKey("k2");  // one key serves both again
  EXPECT_EQ(keys(), (Strings{"k2", "k2", "k2", "k2"}));

  // The keys are process-wide: they outlive the facade and a second facade replaces them.
  client.reset();
  makeClient(nullptr)->setPoiKey("p2");
  EXPECT_EQ(moduleAccessKey(), "k2");
  EXPECT_EQ(modulePoiKey(), "p2");
}

TEST_F(TkClientLocationTest, MilliStampRoundsHalvesAwayFromZero) {
  client = makeClient(nullptr);
  for (const auto& [seconds, millis] : {std::pair{1700000000.25, 1700000000250LL}, {0.0025, 3LL}, {-0.0025, -3LL}}) {
    Clock::pin(seconds);
    EXPECT_EQ(client->milliStamp(), millis) << seconds;
  }
}

class LocationSessionTest : public TkClientLocationTest {
 protected:
  void SetUp() override {
    TkClientLocationTest::SetUp();
    makeReadyClient();
  }

  /// Expects `result` to be the local answer for a fix at `wgs`: the fix in GCJ-02.
  static void expectLocalResultFor(const std::shared_ptr<LocationRes>& result, Coordinate wgs) {
    ASSERT_NE(result, nullptr);
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(wgs);
    EXPECT_EQ(result->location->position->point->latitude, gcj.latitude);
    EXPECT_EQ(result->location->position->point->longitude, gcj.longitude);
  }

  /// Starts a continuous session with `interval` and answers its first fix.
  void startContinuous(double interval) {
    client->isLocateOnce = false;
    client->interval = interval;
    client->startLocation();
    push(fixAt(39.9, 116.4));
    ASSERT_TRUE(TkClientLocationProbe::hasTimerSchedule(*client));
  }

  const LocationController& controller() const { return *TkClientLocationProbe::locateDelegate(*client); }
};

// Offline, the default session answers its first fix locally, in GCJ-02 and stamped now, and
// ends; a second start while it runs does nothing.
TEST_F(LocationSessionTest, DefaultSessionYieldsOneLocalResultAndEnds) {
  Clock::pin(1700000000.1234);
  client->startLocation();
  EXPECT_TRUE(client->isLocating());
  setLogEnabled(true);
  EXPECT_EQ(consoleOf([this] { client->startLocation(); }), "");
  setLogEnabled(false);
  EXPECT_EQ(provider->starts(), 1);

  push(fixAt(31.2304, 121.4737));
  ASSERT_EQ(delegate->locations().size(), 1U);
  const auto result = delegate->locations()[0];
  expectLocalResultFor(result, {31.2304, 121.4737});
  EXPECT_NE(result->location->position->point->latitude, 31.2304) << "must be shifted into GCJ-02";
  EXPECT_EQ(result->location->timestamp, 1700000000123);
  EXPECT_EQ(result->id, "");
  EXPECT_FALSE(client->isLocating());
  EXPECT_FALSE(provider->isUpdating());

  push(fixAt(39.95, 116.45));
  EXPECT_EQ(delegate->locations().size(), 1U);
  EXPECT_TRUE(delegate->errors().empty());
}

TEST_F(LocationSessionTest, FastSessionStaysFastForLaterStarts) {
  client->startFastLocation();
  EXPECT_TRUE(controller().isFastOnceLocation());
  push(fixAt(30.0, 120.0, 20.0));
  push(fixAt(30.001, 120.0, 8.0));
  ASSERT_TRUE(runUntil([this] { return !delegate->locations().empty(); }));
  expectLocalResultFor(delegate->locations()[0], {30.001, 120.0});
  EXPECT_FALSE(client->isLocating());

  client->startLocation();
  EXPECT_TRUE(client->isLocateOnce && client->isFastLocation);
  EXPECT_TRUE(controller().isFastOnceLocation());
  push(fixAt(31.0, 121.0));
  ASSERT_TRUE(runUntil([this] { return delegate->locations().size() == 2; }));
}

TEST_F(LocationSessionTest, ContinuousSessionGivesFirstFixAtOnceThenNewestFixPerPeriod) {
  std::vector<double> newestLatitudeAtResult;
  delegate->then = [this, &newestLatitudeAtResult] {
    newestLatitudeAtResult.push_back(controller().locationPoint().coordinate.latitude);
  };
  startContinuous(0.2);
  ASSERT_EQ(delegate->locations().size(), 1U) << "the first fix is answered at once";

  int pushed = 1;
  const auto feeder = Timer::scheduledTimer(0.04, true, [this, &pushed](Timer&) {
    provider->pushLocation(fixAt(39.9 + 0.001 * pushed++, 116.4));  // ~111 m apart
  });
  const bool enough = runUntil([this] { return delegate->locations().size() >= 5; });
  feeder->invalidate();
  ASSERT_TRUE(enough);

  const auto results = delegate->locations();
  for (std::size_t i = 0; i < results.size(); ++i) {
    expectLocalResultFor(results[i], {newestLatitudeAtResult[i], 116.4});
  }
  EXPECT_GT(newestLatitudeAtResult.back(), newestLatitudeAtResult.front());
  EXPECT_LT(results.size(), static_cast<std::size_t>(pushed)) << "paced by the timer, not by the fixes";
}

// The period is fixed at a continuous session's first fix: a change meanwhile waits for the
// next session. A period below the floor is raised to it and NaN runs at the default, so an
// interval can neither flood the service nor spin the main queue.
TEST_F(LocationSessionTest, TheIntervalIsFixedAtTheFirstFixAndHasAFloor) {
  const std::pair<double, double> rows[] = {
      {0.25, 0.25}, {0.0, 0.1}, {-5.0, 0.1}, {1e-9, 0.1}, {std::numeric_limits<double>::quiet_NaN(), 1.0}};
  for (const auto& [interval, period] : rows) {
    SCOPED_TRACE(interval);
    delegate->heard.clear();
    startContinuous(interval);
    client->interval = 3600.0;
    EXPECT_EQ(TkClientLocationProbe::timerSchedule(*client)->timeInterval(), period);
    bool otherWorkRan = false;  // other work still gets its turn while the timer repeats
    MainQueue::shared().async([&otherWorkRan] { otherWorkRan = true; });
    EXPECT_TRUE(runUntil([&] { return otherWorkRan && delegate->locations().size() >= 2; }));
    client->stopLocation();
  }
  client->startLocation();
  push(fixAt(39.95, 116.45));
  ASSERT_TRUE(TkClientLocationProbe::hasTimerSchedule(*client));
  EXPECT_EQ(TkClientLocationProbe::timerSchedule(*client)->timeInterval(), 3600.0);
}

TEST_F(LocationSessionTest, FixWithZeroOrNonFiniteCoordinateOnlyLogs) {
  for (const Location& fix : {fixAt(0.0, 116.4), fixAt(39.9, 0.0), fixAt(std::nan(""), 116.4),
                              fixAt(39.9, -std::numeric_limits<double>::infinity())}) {
    client->startLocation();
    setLogEnabled(true);
    // The controller drops such fixes itself; the facade guards its own door too.
    const auto printed = consoleOf([&] { client->locationSuccessWithLocation(fix); });
    setLogEnabled(false);
    EXPECT_EQ(printed, "手动停止定位成功\n定位数据为空/无效\n") << "the session ends before the fix is handled";
    EXPECT_TRUE(delegate->locations().empty() && delegate->errors().empty());
    EXPECT_FALSE(client->isLocating());
  }
}

// A failed check or a platform error ends a single session; a new one may follow.
TEST_F(LocationSessionTest, FailureEndsASingleSession) {
  Bundle::main().removeObject(kWhenInUseKey);
  client->startLocation();
  Bundle::main().setObject(kWhenInUseKey, std::string("x"));
  EXPECT_FALSE(client->isLocating());
  client->startLocation();
  pushError(Error("TovikLocation", 2, "信号丢失"));
  EXPECT_EQ(delegate->errors(),
            (Strings{"定位失败：Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置", "定位失败：信号丢失"}));
  EXPECT_FALSE(client->isLocating());
  push(fixAt(39.9, 116.4));
  EXPECT_TRUE(delegate->locations().empty());

  client->startLocation();
  push(fixAt(39.9, 116.4));
  EXPECT_EQ(delegate->locations().size(), 1U);
}

// After a failure in a continuous session the timer and controller go on; stopLocation must
// still be able to end them. When idle it touches nothing.
TEST_F(LocationSessionTest, StopLocationEndsWhatAFailureLeftRunning) {
  setLogEnabled(true);
  EXPECT_EQ(consoleOf([this] { client->stopLocation(); }), "");
  setLogEnabled(false);
  EXPECT_EQ(provider->stops(), 0);

  startContinuous(0.1);
  pushError(Error("TovikLocation", 2, "信号丢失"));
  EXPECT_EQ(delegate->errors(), Strings{"定位失败：信号丢失"});
  EXPECT_FALSE(client->isLocating());
  EXPECT_TRUE(controller().isUpdating());
  EXPECT_TRUE(runUntil([this] { return delegate->locations().size() >= 2; })) << "the timer keeps delivering";

  setLogEnabled(true);
  EXPECT_EQ(consoleOf([this] { client->stopLocation(); }), "stopLocation\n手动停止定位成功\n");
  EXPECT_FALSE(TkClientLocationProbe::hasTimerSchedule(*client) || controller().isUpdating() || provider->isUpdating());
  const auto delivered = delegate->locations().size();
  runPast(0.5);
  EXPECT_EQ(delegate->locations().size(), delivered);
}

TEST_F(LocationSessionTest, DestroyingTheFacadeEndsItsTimerAndController) {
  startContinuous(0.1);
  const std::weak_ptr<Timer> timer = TkClientLocationProbe::timerSchedule(*client);
  const std::weak_ptr<LocationController> weakController = TkClientLocationProbe::locateDelegate(*client);
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
    delegate->heard.clear();
    delegate->then = [this, once] {
      if (once || delegate->locations().size() == 2) {
        client.reset();
      }
    };
    client->startLocation();
    push(fixAt(39.9, 116.4));
    ASSERT_TRUE(runUntil([this] { return client == nullptr; }));
    EXPECT_FALSE(provider->isUpdating());
  }
}

// The delegate may let itself go inside each of the facade's own callbacks: a failed check,
// a failure of the controller, the local result.
TEST_F(LocationSessionTest, DelegateMayReplaceItselfInsideEveryCallback) {
  const std::function<void()> paths[] = {
      [this] {
        client->isAgree = false;
        client->startLocation();
      },
      [this] {
        client->startLocation();
        pushError(Error("TovikLocation", 2, "信号丢失"));
      },
      [this] {
        client->startLocation();
        push(fixAt(39.9, 116.4));
      },
  };
  for (const auto& path : paths) {
    makeReadyClient();
    auto replacing = std::make_shared<SelfReplacingDelegate>();
    replacing->facade = client;
    const auto alive = replacing->aliveAfterLettingGo;
    client->callDelegate = std::move(replacing);
    path();
    EXPECT_EQ(*alive, std::vector<bool>{true}) << "the delegate was destroyed while its member ran";
    EXPECT_EQ(client->callDelegate, nullptr);
  }
}

// A result may stop the session or start the next one: a continuous session stopped at its
// first result delivers nothing more, and a start inside a single fix's result begins a new
// session.
TEST_F(LocationSessionTest, AResultMayStopOrRestartTheSession) {
  client->isLocateOnce = false;
  client->interval = 0.05;
  delegate->then = [this] { client->stopLocation(); };
  client->startLocation();
  push(fixAt(39.9, 116.4));
  EXPECT_FALSE(client->isLocating() || TkClientLocationProbe::hasTimerSchedule(*client) || provider->isUpdating());
  runPast(0.3);
  EXPECT_EQ(delegate->locations().size(), 1U);

  client->isLocateOnce = true;
  delegate->then = [this] {
    delegate->then = nullptr;
    client->startLocation();
  };
  client->startLocation();
  push(fixAt(39.9, 116.4));
  EXPECT_TRUE(client->isLocating()) << "the start inside the result began a new session";
  push(fixAt(39.91, 116.4));
  EXPECT_EQ(delegate->locations().size(), 3U);
  EXPECT_FALSE(client->isLocating());
}

// An exception from the application's own callback propagates, and leaves the session as it
// would be after the fix: a single session over, a continuous one timed.
TEST_F(LocationSessionTest, AnExceptionFromTheApplicationLeavesTheSessionSettled) {
  delegate->then = [] { throw std::runtime_error("the application's"); };
  client->startLocation();
  EXPECT_THROW(push(fixAt(39.9, 116.4)), std::runtime_error);
  EXPECT_FALSE(client->isLocating());

  client->isLocateOnce = false;
  client->interval = 0.05;
  client->startLocation();
  EXPECT_TRUE(client->isLocating()) << "a later start is not ignored";
  EXPECT_THROW(push(fixAt(39.9, 116.4)), std::runtime_error);
  EXPECT_TRUE(TkClientLocationProbe::hasTimerSchedule(*client));
  delegate->then = nullptr;
  EXPECT_TRUE(runUntil([this] { return delegate->locations().size() >= 4; }));
}

// Online, the fix goes to the service and its answer is what the application receives.
TEST_F(LocationSessionTest, OnlineFixGoesToTheService) {
  TestServer server;
  LocationRes answer;
  answer.id = "from-service";
  server.respond("POST", "/location/hub/v1/track_points", CannedResponse::json(200, answer.encode().dump()));
  NetworkChecker::setFlagsSourceForTesting([] { return std::optional<std::uint32_t>(NetworkChecker::kReachable); });
  client->serviceURL = server.baseURL();

  client->startLocation();
  push(fixAt(39.9087, 116.3975));
  EXPECT_TRUE(delegate->locations().empty()) << "no local result while online";
  EXPECT_FALSE(client->isLocating());
  ASSERT_TRUE(runUntil([this] { return !delegate->locations().empty() || !delegate->errors().empty(); }));
  ASSERT_EQ(delegate->locations().size(), 1U) << (delegate->errors().empty() ? "" : delegate->errors()[0]);
  EXPECT_EQ(delegate->locations()[0]->id, "from-service");
  EXPECT_EQ(server.lastRequest().queryValue("access_key"), "test-key");
}

}  // namespace
}  // namespace tovik::test
