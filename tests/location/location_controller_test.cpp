#include "tovik/location/location_controller.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "location/location_test_env.h"

namespace tovik {
namespace {

using testing_env::fixAt;
using testing_env::kAlwaysKey;
using testing_env::kBackgroundModesKey;
using testing_env::kWhenInUseKey;
using testing_env::sameCoordinate;
using testing_env::stdoutOf;

constexpr const char* kMissingWhenInUse = "Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";
constexpr const char* kDenied = "定位权限已被拒绝或受限，请前往设置开启";
constexpr const char* kMissingAlways =
    "Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用";
const std::string kNoBackgroundModeLine =
    "未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效\n";
const std::string kNoBackgroundAuthorizationLine = "用户未授权后台定位，连续定位仅前台生效\n";

struct RecordingOwner : LocationControllerDelegate {
  std::vector<Location> fixes;
  std::vector<std::string> failures;
  void locationSuccessWithLocation(const Location& location) override { fixes.push_back(location); }
  void locationFailedWithErrorMsg(const std::string& msg) override { failures.push_back(msg); }
};

class LocationControllerTest : public testing_env::LocationTestEnvironment {
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
  const LocationManager* manager = controller->manager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->distanceFilter(), 3.0);
  EXPECT_EQ(manager->desiredAccuracy(), kLocationAccuracyBest);
  EXPECT_FALSE(manager->pausesLocationUpdatesAutomatically());
  EXPECT_EQ(provider->whenInUseRequests(), 1);

  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([] { std::make_shared<LocationController>()->initOption(); }), "initOption：\n");
}

// The purpose-string and authorisation checks open all three kinds of request.
enum class Request { continuous, single, fast };

struct CheckCase {
  const char* name;
  std::optional<BundleValue> whenInUse;
  AuthorizationStatus status;
  const char* failure;  // none: the request starts
};

class RequestChecks : public LocationControllerTest,
                      public testing::WithParamInterface<std::tuple<CheckCase, Request>> {};

TEST_P(RequestChecks, RefuseOrStartTheRequest) {
  const auto& [c, request] = GetParam();
  Bundle::main().removeObject(kWhenInUseKey);
  if (c.whenInUse) {
    Bundle::main().setObject(kWhenInUseKey, *c.whenInUse);
  }
  provider->setAuthorizationStatus(c.status);

  switch (request) {
    case Request::continuous: controller->startContinuousLocation(); break;
    case Request::single: controller->requestSingleLocation(false); break;
    case Request::fast: controller->requestSingleLocation(true); break;
  }

  if (c.failure != nullptr) {
    EXPECT_EQ(owner->failures, std::vector<std::string>{c.failure});
    EXPECT_FALSE(controller->isUpdating());
    EXPECT_FALSE(controller->isContinuousLocation());
    EXPECT_FALSE(controller->isFastOnceLocation());
    EXPECT_FALSE(provider->isUpdating());
  } else {
    EXPECT_TRUE(owner->failures.empty());
    EXPECT_EQ(controller->isContinuousLocation(), request == Request::continuous);
    EXPECT_EQ(controller->isFastOnceLocation(), request == Request::fast);
    if (request != Request::single) {
      EXPECT_TRUE(controller->isUpdating());
      EXPECT_TRUE(provider->isUpdating());
    }
  }
}

const CheckCase kCheckCases[] = {
    {"Missing", std::nullopt, AuthorizationStatus::authorizedWhenInUse, kMissingWhenInUse},
    {"NumberIsNoDescription", BundleValue{1.0}, AuthorizationStatus::authorizedWhenInUse, kMissingWhenInUse},
    {"ListIsNoDescription", BundleValue{std::vector<std::string>{"x"}}, AuthorizationStatus::authorizedWhenInUse,
     kMissingWhenInUse},
    {"MissingBeforeDenied", std::nullopt, AuthorizationStatus::denied, kMissingWhenInUse},
    {"EmptyStringCounts", BundleValue{std::string()}, AuthorizationStatus::authorizedWhenInUse, nullptr},
    {"Restricted", BundleValue{std::string("x")}, AuthorizationStatus::restricted, kDenied},
    {"Denied", BundleValue{std::string("x")}, AuthorizationStatus::denied, kDenied},
    {"NotDeterminedGoesOn", BundleValue{std::string("x")}, AuthorizationStatus::notDetermined, nullptr},
    {"Always", BundleValue{std::string("x")}, AuthorizationStatus::authorizedAlways, nullptr},
};

std::string checkCaseName(const testing::TestParamInfo<std::tuple<CheckCase, Request>>& info) {
  static const char* const kinds[] = {"Continuous", "Single", "Fast"};
  return std::string(std::get<0>(info.param).name) + kinds[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(AllRequests, RequestChecks,
                         testing::Combine(testing::ValuesIn(kCheckCases),
                                          testing::Values(Request::continuous, Request::single, Request::fast)),
                         checkCaseName);

// Background configuration of a continuous request.
struct BackgroundCase {
  const char* name;
  std::optional<BundleValue> modes;
  bool alwaysDescription;
  AuthorizationStatus status;
  std::optional<AuthorizationStatus> answerToAlways;
  const char* failure;
  std::string printed;
  int alwaysRequests;
  bool updating;
  bool backgroundAllowed;
};

class ContinuousBackground : public LocationControllerTest, public testing::WithParamInterface<BackgroundCase> {};

TEST_P(ContinuousBackground, ConfiguresBackgroundUpdatesOrWarns) {
  const auto& c = GetParam();
  if (c.modes) {
    Bundle::main().setObject(kBackgroundModesKey, *c.modes);
  }
  if (c.alwaysDescription) {
    Bundle::main().setObject(kAlwaysKey, std::string("Tracks your walks"));
  }
  provider->setAuthorizationStatus(c.status);
  provider->setAnswerToAlwaysRequest(c.answerToAlways);

  // Logging stays off: what is printed is printed unconditionally.
  EXPECT_EQ(stdoutOf([this] { controller->startContinuousLocation(); }), c.printed);

  if (c.failure != nullptr) {
    EXPECT_EQ(owner->failures, std::vector<std::string>{c.failure});
  } else {
    EXPECT_TRUE(owner->failures.empty());
  }
  EXPECT_TRUE(controller->isContinuousLocation());
  EXPECT_EQ(provider->alwaysRequests(), c.alwaysRequests);
  EXPECT_EQ(controller->isUpdating(), c.updating);
  EXPECT_EQ(provider->isUpdating(), c.updating);
  EXPECT_EQ(controller->manager()->allowsBackgroundLocationUpdates(), c.backgroundAllowed);
}

using Modes = std::vector<std::string>;
const BackgroundCase kBackgroundCases[] = {
    {"NoModes", std::nullopt, true, AuthorizationStatus::authorizedWhenInUse, std::nullopt, nullptr,
     kNoBackgroundModeLine, 0, true, false},
    {"OtherModes", BundleValue{Modes{"audio", "fetch"}}, true, AuthorizationStatus::authorizedWhenInUse,
     std::nullopt, nullptr, kNoBackgroundModeLine, 0, true, false},
    {"ModeAsPlainString", BundleValue{std::string("location")}, true, AuthorizationStatus::authorizedWhenInUse,
     std::nullopt, nullptr, kNoBackgroundModeLine, 0, true, false},
    {"ModeWithoutAlwaysDescription", BundleValue{Modes{"location"}}, false,
     AuthorizationStatus::authorizedWhenInUse, std::nullopt, kMissingAlways, "", 0, false, false},
    {"WhenInUseUpgradedToAlways", BundleValue{Modes{"audio", "location"}}, true,
     AuthorizationStatus::authorizedWhenInUse, AuthorizationStatus::authorizedAlways, nullptr, "", 1, true, true},
    {"WhenInUseNotUpgraded", BundleValue{Modes{"location"}}, true, AuthorizationStatus::authorizedWhenInUse,
     std::nullopt, nullptr, kNoBackgroundAuthorizationLine, 1, true, true},
    {"AlreadyAlways", BundleValue{Modes{"location"}}, true, AuthorizationStatus::authorizedAlways, std::nullopt,
     nullptr, "", 0, true, true},
    {"NotDetermined", BundleValue{Modes{"location"}}, true, AuthorizationStatus::notDetermined,
     AuthorizationStatus::authorizedAlways, nullptr, kNoBackgroundAuthorizationLine, 0, true, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, ContinuousBackground, testing::ValuesIn(kBackgroundCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LocationControllerTest, SingleRequestDeliversOneFixAndLogsIt) {
  setLogEnabled(true);
  const auto printed = stdoutOf([this] {
    controller->requestSingleLocation(false);
    push(fixAt(39.9, 116.4, 5.0));
  });
  EXPECT_EQ(printed, "请求单次定位：\n纬度：39.9 经度：116.4 精度：5.0\n");
  ASSERT_EQ(owner->fixes.size(), 1U);
  EXPECT_TRUE(sameCoordinate(owner->fixes[0], fixAt(39.9, 116.4)));
  EXPECT_TRUE(sameCoordinate(controller->locationPoint(), fixAt(39.9, 116.4)));
}

TEST_F(LocationControllerTest, FixLineUsesShortestRoundTripNumbers) {
  controller->startContinuousLocation();
  setLogEnabled(true);
  const struct {
    Location fix;
    std::string line;
  } cases[] = {
      {fixAt(31.230416, 121.473701, 65.0), "纬度：31.230416 经度：121.473701 精度：65.0\n"},
      {fixAt(-33.0, -70.6483, -1.0), "纬度：-33.0 经度：-70.6483 精度：-1.0\n"},
      {fixAt(0.1 + 0.2, 1e22, 4.5), "纬度：0.30000000000000004 经度：1e+22 精度：4.5\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(stdoutOf([&] { push(c.fix); }), c.line);
  }
  EXPECT_EQ(owner->fixes.size(), std::size(cases));
}

TEST_F(LocationControllerTest, CoordinateThatIsNotANumberIsNotDropped) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  controller->requestSingleLocation(false);
  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([&] { push(fixAt(nan, 116.4, 5.0)); }), "纬度：nan 经度：116.4 精度：5.0\n");
  ASSERT_EQ(owner->fixes.size(), 1U);
  EXPECT_TRUE(std::isnan(owner->fixes[0].coordinate.latitude));
  EXPECT_TRUE(std::isnan(controller->locationPoint().coordinate.latitude));
}

TEST_F(LocationControllerTest, ZeroLatitudeOrLongitudeIsNoFix) {
  controller->startContinuousLocation();
  push(fixAt(39.9, 116.4));
  setLogEnabled(true);
  const auto printed = stdoutOf([this] {
    push(fixAt(0.0, 116.4));
    push(fixAt(39.9, 0.0));
    push(fixAt(-0.0, 116.4));
    push(fixAt(0.0, 0.0));
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(owner->fixes.size(), 1U);
  EXPECT_TRUE(sameCoordinate(controller->locationPoint(), fixAt(39.9, 116.4)));
}

// The fast window delivers the earliest sample with the smallest non-negative accuracy.
struct WindowCase {
  const char* name;
  std::vector<double> accuracies;
  std::size_t chosen;
};

class FastWindow : public LocationControllerTest, public testing::WithParamInterface<WindowCase> {};

TEST_P(FastWindow, DeliversTheBestSampleAndStops) {
  const auto& c = GetParam();
  controller->requestSingleLocation(true);
  for (std::size_t i = 0; i < c.accuracies.size(); ++i) {
    push(fixAt(30.0 + 0.001 * static_cast<double>(i), 120.0, c.accuracies[i]));
  }
  EXPECT_TRUE(owner->fixes.empty()) << "nothing is delivered before the window closes";
  EXPECT_TRUE(controller->hasFastSampleTimer());
  EXPECT_EQ(controller->fastBuffer().size(), c.accuracies.size());

  ASSERT_TRUE(runUntil([this] { return !owner->fixes.empty(); }));
  ASSERT_EQ(owner->fixes.size(), 1U);
  EXPECT_TRUE(sameCoordinate(owner->fixes[0], fixAt(30.0 + 0.001 * static_cast<double>(c.chosen), 120.0)));
  EXPECT_FALSE(controller->isUpdating());
  EXPECT_FALSE(controller->isFastOnceLocation());
  EXPECT_FALSE(controller->hasFastSampleTimer());
  EXPECT_TRUE(controller->fastBuffer().empty());
  EXPECT_FALSE(provider->isUpdating());
}

INSTANTIATE_TEST_SUITE_P(Choices, FastWindow,
                         testing::Values(WindowCase{"EarliestOfTheSmallest", {10, 5, 5, -1}, 1},
                                         WindowCase{"AllNegativeGiveTheFirst", {-1, -1}, 0},
                                         WindowCase{"NegativeFirstIsReplaced", {-1, 7, 3}, 2},
                                         WindowCase{"ZeroIsValid", {-5, 0, 2}, 1},
                                         WindowCase{"SingleSample", {4}, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LocationControllerTest, StopDuringAnOpenWindowDeliversNothing) {
  controller->requestSingleLocation(true);
  push(fixAt(30.0, 120.0));
  ASSERT_TRUE(controller->hasFastSampleTimer());

  controller->stopUpdating();
  EXPECT_FALSE(controller->hasFastSampleTimer());
  EXPECT_TRUE(controller->fastBuffer().empty());
  runPast(3 * LocationController::kFastSampleWindow);
  EXPECT_TRUE(owner->fixes.empty());
}

TEST_F(LocationControllerTest, NewFastRequestDiscardsTheOldWindow) {
  controller->requestSingleLocation(true);
  push(fixAt(30.0, 120.0, 1.0));
  controller->requestSingleLocation(true);
  EXPECT_TRUE(controller->fastBuffer().empty());
  EXPECT_FALSE(controller->hasFastSampleTimer());
  runPast(2 * LocationController::kFastSampleWindow);
  EXPECT_TRUE(owner->fixes.empty()) << "the old window must not close on its own";

  push(fixAt(31.0, 121.0, 50.0));
  ASSERT_TRUE(runUntil([this] { return !owner->fixes.empty(); }));
  ASSERT_EQ(owner->fixes.size(), 1U);
  EXPECT_TRUE(sameCoordinate(owner->fixes[0], fixAt(31.0, 121.0)));
}

TEST_F(LocationControllerTest, FastRequestWithoutValidFixKeepsUpdating) {
  controller->requestSingleLocation(true);
  push(fixAt(0.0, 120.0));
  EXPECT_FALSE(controller->hasFastSampleTimer());
  runPast(2 * LocationController::kFastSampleWindow);
  EXPECT_TRUE(owner->fixes.empty());
  EXPECT_TRUE(controller->isUpdating());
  EXPECT_TRUE(controller->isFastOnceLocation());
}

TEST_F(LocationControllerTest, StopWhenIdleStillStopsAndLogs) {
  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([this] { controller->stopUpdating(); }), "手动停止定位成功\n");
  EXPECT_FALSE(controller->isUpdating());
  EXPECT_FALSE(controller->manager()->allowsBackgroundLocationUpdates());
}

TEST_F(LocationControllerTest, PlatformErrorsArePassedOnWithoutStopping) {
  controller->startContinuousLocation();
  setLogEnabled(true);
  const auto printed = stdoutOf([this] { pushError(Error("TovikLocation", 1, "位置暂不可用")); });
  EXPECT_EQ(printed, "定位失败：位置暂不可用\n");
  EXPECT_EQ(owner->failures, std::vector<std::string>{"位置暂不可用"});
  EXPECT_TRUE(controller->isUpdating());
  EXPECT_TRUE(controller->isContinuousLocation());

  push(fixAt(39.9, 116.4));
  EXPECT_EQ(owner->fixes.size(), 1U);
}

TEST_F(LocationControllerTest, GoneOwnerOrControllerIsHarmless) {
  owner.reset();
  controller->delegate.reset();
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
}  // namespace tovik
