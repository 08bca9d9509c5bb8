#include "tovik/location/location_controller.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "location/location_test_env.h"

namespace tovik::test {
namespace {

using Auth = AuthorizationStatus;
using Strings = std::vector<std::string>;

constexpr const char* kMissingWhenInUse = "Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";
constexpr const char* kDenied = "定位权限已被拒绝或受限，请前往设置开启";
constexpr const char* kMissingAlways =
    "Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用";
const std::string kNoModeLine = "未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效\n";
const std::string kNoAlwaysLine = "用户未授权后台定位，连续定位仅前台生效\n";

Strings failuresOf(const char* failure) { return failure != nullptr ? Strings{failure} : Strings{}; }

struct RecordingOwner : LocationControllerDelegate {
  std::vector<Location> fixes;
  Strings failures;
  void locationSuccessWithLocation(const Location& location) override { fixes.push_back(location); }
  void locationFailedWithErrorMsg(const std::string& msg) override { failures.push_back(msg); }
};

class LocationControllerTest : public test::LocationTestEnvironment {
 protected:
  void SetUp() override {
    LocationTestEnvironment::SetUp();
    owner = std::make_shared<RecordingOwner>();
    controller = std::make_shared<LocationController>();
    controller->delegate = owner;
    controller->initOption();
  }

  void TearDown() override {
    controller.reset();
    LocationTestEnvironment::TearDown();
  }

  std::shared_ptr<RecordingOwner> owner;
  std::shared_ptr<LocationController> controller;
};

TEST_F(LocationControllerTest, SetUpConfiguresTheManagerAndAsksForWhenInUseAuthorisation) {
  EXPECT_EQ(controller->manager()->distanceFilter(), 3.0);
  EXPECT_EQ(controller->manager()->desiredAccuracy(), kLocationAccuracyBest);
  EXPECT_FALSE(controller->manager()->pausesLocationUpdatesAutomatically());
  EXPECT_EQ(provider->whenInUseRequests(), 1);
  setLogEnabled(true);
  EXPECT_EQ(consoleOf([] { std::make_shared<LocationController>()->initOption(); }), "initOption：\n");
  EXPECT_EQ(consoleOf([this] { controller->requestSingleLocation(false); }), "请求单次定位：\n");
}

// The purpose-string and authorisation checks open all three kinds of request.
TEST_F(LocationControllerTest, ChecksRefuseOrStartEveryKindOfRequest) {
  const struct {
    const char* what;
    std::optional<BundleValue> whenInUse;
    Auth status;
    const char* failure;  // none: the request starts
  } rows[] = {
      {"missing", std::nullopt, Auth::authorizedWhenInUse, kMissingWhenInUse},
      {"a number is no description", BundleValue{1.0}, Auth::authorizedWhenInUse, kMissingWhenInUse},
      {"a list is no description", BundleValue{Strings{"x"}}, Auth::authorizedWhenInUse, kMissingWhenInUse},
      {"missing, checked before denied", std::nullopt, Auth::denied, kMissingWhenInUse},
      {"an empty string counts", BundleValue{std::string()}, Auth::authorizedWhenInUse, nullptr},
      {"restricted", BundleValue{std::string("x")}, Auth::restricted, kDenied},
      {"denied", BundleValue{std::string("x")}, Auth::denied, kDenied},
      {"not determined goes on", BundleValue{std::string("x")}, Auth::notDetermined, nullptr},
      {"always", BundleValue{std::string("x")}, Auth::authorizedAlways, nullptr},
  };
  for (const auto& row : rows) {
    for (const std::string kind : {"continuous", "single", "fast"}) {
      SCOPED_TRACE(std::string(row.what) + ", " + kind);
      TearDown();  // a fresh world for each
      SetUp();
      Bundle::main().removeObject(kWhenInUseKey);
      if (row.whenInUse) {
        Bundle::main().setObject(kWhenInUseKey, *row.whenInUse);
      }
      provider->setAuthorizationStatus(row.status);
      kind == "continuous" ? controller->startContinuousLocation() : controller->requestSingleLocation(kind == "fast");

      const bool starts = row.failure == nullptr;
      EXPECT_EQ(owner->failures, failuresOf(row.failure));
      EXPECT_EQ(controller->isContinuousLocation(), starts && kind == "continuous");
      EXPECT_EQ(controller->isFastOnceLocation(), starts && kind == "fast");
      EXPECT_EQ(controller->isUpdating(), starts && kind != "single");  // a single fix is only requested
      EXPECT_EQ(provider->isUpdating(), starts);
    }
  }
}

// Background configuration of a continuous request; its warnings print with logging off.
TEST_F(LocationControllerTest, ContinuousRequestConfiguresBackgroundUpdatesOrWarns) {
  const BundleValue locationMode{Strings{"location"}};
  const Auth inUse = Auth::authorizedWhenInUse;
  const Auth always = Auth::authorizedAlways;
  const struct {
    const char* what;
    std::optional<BundleValue> modes;
    bool alwaysDescription;
    Auth status;
    std::optional<Auth> answerToAlways;
    const char* failure;
    std::string printed;
    int alwaysRequests;
    bool updating, backgroundAllowed;
  } rows[] = {
      {"no modes", {}, true, inUse, {}, nullptr, kNoModeLine, 0, true, false},
      {"other modes", Strings{"audio", "fetch"}, true, inUse, {}, nullptr, kNoModeLine, 0, true, false},
      {"mode as a plain string", std::string("location"), true, inUse, {}, nullptr, kNoModeLine, 0, true, false},
      {"no always description", locationMode, false, inUse, {}, kMissingAlways, "", 0, false, false},
      {"when in use, upgraded", Strings{"audio", "location"}, true, inUse, always, nullptr, "", 1, true, true},
      {"when in use, not upgraded", locationMode, true, inUse, {}, nullptr, kNoAlwaysLine, 1, true, true},
      {"already always", locationMode, true, always, {}, nullptr, "", 0, true, true},
      {"not determined", locationMode, true, Auth::notDetermined, always, nullptr, kNoAlwaysLine, 0, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();  // a fresh world for each
    SetUp();
    if (row.modes) {
      Bundle::main().setObject(kBackgroundModesKey, *row.modes);
    }
    if (row.alwaysDescription) {
      Bundle::main().setObject(kAlwaysKey, std::string("Tracks your walks"));
    }
    provider->setAuthorizationStatus(row.status);
    provider->setAnswerToAlwaysRequest(row.answerToAlways);

    EXPECT_EQ(consoleOf([this] { controller->startContinuousLocation(); }), row.printed);
    EXPECT_EQ(owner->failures, failuresOf(row.failure));
    EXPECT_TRUE(controller->isContinuousLocation());
    EXPECT_EQ(provider->alwaysRequests(), row.alwaysRequests);
    EXPECT_EQ(controller->isUpdating(), row.updating);
    EXPECT_EQ(provider->isUpdating(), row.updating);
    EXPECT_EQ(controller->manager()->allowsBackgroundLocationUpdates(), row.backgroundAllowed);
  }
}

// Each fix is logged, in plain shortest decimals, and passed on; one with a zero or non-finite
// latitude or longitude is no fix at all. Platform errors pass on without stopping.
TEST_F(LocationControllerTest, FixesAndErrorsArePassedOnExceptZeroOrNonFiniteCoordinates) {
  controller->startContinuousLocation();
  setLogEnabled(true);
  const struct {
    Location fix;
    std::string line;  // none: dropped
  } rows[] = {
      {fixAt(39.9, 116.4, 5.0), "纬度：39.9 经度：116.4 精度：5.0\n"},
      {fixAt(31.230416, 121.473701, 65.0), "纬度：31.230416 经度：121.473701 精度：65.0\n"},
      {fixAt(-33.0, -70.6483, -1.0), "纬度：-33.0 经度：-70.6483 精度：-1.0\n"},
      {fixAt(0.1 + 0.2, 1e22, 4.5), "纬度：0.30000000000000004 经度：10000000000000000000000.0 精度：4.5\n"},
      {fixAt(39.9, 116.4, 1e5), "纬度：39.9 经度：116.4 精度：100000.0\n"},
      {fixAt(1e-4, 116.4, 1e-4), "纬度：0.0001 经度：116.4 精度：0.0001\n"},
      {fixAt(0.0, 116.4), ""}, {fixAt(39.9, 0.0), ""}, {fixAt(-0.0, 116.4), ""}, {fixAt(0.0, 0.0), ""},
      {fixAt(std::numeric_limits<double>::quiet_NaN(), 116.4), ""},
      {fixAt(39.9, std::numeric_limits<double>::infinity()), ""},
  };
  for (const auto& row : rows) {
    const auto before = owner->fixes.size();
    EXPECT_EQ(consoleOf([&] { push(row.fix); }), row.line);
    ASSERT_EQ(owner->fixes.size(), before + (row.line.empty() ? 0 : 1));
    EXPECT_TRUE(row.line.empty() || sameCoordinate(owner->fixes.back(), row.fix));
    EXPECT_TRUE(sameCoordinate(controller->locationPoint(), owner->fixes.back()));
  }

  EXPECT_EQ(consoleOf([this] { pushError(Error("TovikLocation", 1, "位置暂不可用")); }), "定位失败：位置暂不可用\n");
  EXPECT_EQ(owner->failures, Strings{"位置暂不可用"});
  EXPECT_TRUE(controller->isUpdating() && controller->isContinuousLocation());
}

// The fast window delivers the earliest sample with the smallest non-negative accuracy, then
// stops.
TEST_F(LocationControllerTest, FastWindowDeliversTheBestSampleAndStops) {
  const std::pair<std::vector<double>, std::size_t> rows[] = {  // accuracies, the one chosen
      {{10, 5, 5, -1}, 1}, {{-1, -1}, 0}, {{-1, 7, 3}, 2}, {{-5, 0, 2}, 1}, {{4}, 0}};
  for (const auto& [accuracies, chosen] : rows) {
    SCOPED_TRACE(testing::PrintToString(accuracies));
    owner->fixes.clear();
    controller->requestSingleLocation(true);
    for (std::size_t i = 0; i < accuracies.size(); ++i) {
      push(fixAt(30.0 + 0.001 * static_cast<double>(i), 120.0, accuracies[i]));
    }
    EXPECT_TRUE(owner->fixes.empty()) << "nothing is delivered before the window closes";
    EXPECT_EQ(controller->fastBuffer().size(), accuracies.size());
    ASSERT_TRUE(runUntil([this] { return !owner->fixes.empty(); }));
    ASSERT_EQ(owner->fixes.size(), 1U);
    EXPECT_TRUE(sameCoordinate(owner->fixes[0], fixAt(30.0 + 0.001 * static_cast<double>(chosen), 120.0)));
    EXPECT_FALSE(controller->isUpdating() || controller->isFastOnceLocation() || provider->isUpdating());
    EXPECT_FALSE(controller->hasFastSampleTimer() || !controller->fastBuffer().empty());
  }
}

// A new fast request discards the open window (a zero fix opens none); a stop during an
// open window delivers nothing.
TEST_F(LocationControllerTest, WindowsEndWithANewRequestOrAStop) {
  controller->requestSingleLocation(true);
  push(fixAt(30.0, 120.0, 1.0));
  controller->requestSingleLocation(true);
  EXPECT_FALSE(controller->hasFastSampleTimer() || !controller->fastBuffer().empty());
  push(fixAt(0.0, 120.0));
  EXPECT_FALSE(controller->hasFastSampleTimer());
  runPast(2 * LocationController::kFastSampleWindow);
  EXPECT_TRUE(owner->fixes.empty()) << "the old window must not close on its own";
  EXPECT_TRUE(controller->isUpdating() && controller->isFastOnceLocation());
  push(fixAt(31.0, 121.0, 50.0));
  ASSERT_TRUE(runUntil([this] { return !owner->fixes.empty(); }));
  EXPECT_TRUE(sameCoordinate(owner->fixes.at(0), fixAt(31.0, 121.0)));

  controller->requestSingleLocation(true);
  push(fixAt(30.0, 120.0));
  ASSERT_TRUE(controller->hasFastSampleTimer());
  setLogEnabled(true);
  EXPECT_EQ(consoleOf([this] { controller->stopUpdating(); }), "手动停止定位成功\n");
  EXPECT_FALSE(controller->hasFastSampleTimer() || !controller->fastBuffer().empty() || controller->isUpdating());
  EXPECT_FALSE(controller->manager()->allowsBackgroundLocationUpdates());
  runPast(3 * LocationController::kFastSampleWindow);
  EXPECT_EQ(owner->fixes.size(), 1U);
}

TEST_F(LocationControllerTest, GoneOwnerOrControllerIsHarmless) {
  owner.reset();
  Bundle::main().removeObject(kWhenInUseKey);
  controller->startContinuousLocation();  // failure with nobody to tell
  Bundle::main().setObject(kWhenInUseKey, std::string("x"));
  controller->startContinuousLocation();
  push(fixAt(39.9, 116.4));
  pushError(Error("TovikLocation", 1, "x"));

  // An open window whose controller goes away closes without effect.
  controller->requestSingleLocation(true);
  push(fixAt(39.9, 116.4));
  const std::weak_ptr<LocationController> weak = controller;
  controller.reset();
  EXPECT_TRUE(weak.expired()) << "the window timer must not keep the controller alive";
  runPast(2 * LocationController::kFastSampleWindow);
}

}  // namespace
}  // namespace tovik::test
