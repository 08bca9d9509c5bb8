#include "tovik/location/location_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "location/location_test_env.h"

namespace tovik::test {
namespace {

using Auth = AuthorizationStatus;

Auth authorisation(const std::string& name) {
  const Strings names{"notDetermined", "restricted", "denied", "always", "whenInUse"};
  return static_cast<Auth>(std::find(names.begin(), names.end(), name) - names.begin());
}

/// "text:x", "num:1", "list:a,b"; empty: nothing stored.
void store(const char* key, const std::string& field) {
  const std::string text = field.substr(std::min(field.find(':') + 1, field.size()));
  Strings items;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) items.push_back(item);
  if (field.starts_with("text:")) Bundle::main().setObject(key, text);
  if (field.starts_with("num:")) Bundle::main().setObject(key, std::stod(text));
  if (field.starts_with("list:")) Bundle::main().setObject(key, items);
}

Strings unlessEmpty(const std::string& text) { return text.empty() ? Strings{} : Strings{text}; }

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
  /// A fresh world, for the next row of a table.
  void afresh() {
    TearDown();
    SetUp();
  }

  std::shared_ptr<RecordingOwner> owner;
  std::shared_ptr<LocationController> controller;
};

TEST_F(LocationControllerTest, SetUpConfiguresTheManagerAndAsksForWhenInUseAuthorisation) {
  EXPECT_EQ(controller->manager()->distanceFilter(), 3.0);
  EXPECT_EQ(provider->whenInUseRequests(), 1);
  EXPECT_EQ(logOf([] { std::make_shared<LocationController>()->initOption(); }), "initOption：\n");
  EXPECT_EQ(logOf([this] { controller->requestSingleLocation(false); }), "请求单次定位：\n");
}

TEST_F(LocationControllerTest, ChecksRefuseOrStartEveryKindOfRequest) {
  for (const auto& row : tableRows("location", "request_checks.txt")) {
    for (const std::string kind : {"continuous", "single", "fast"}) {
      SCOPED_TRACE(row[0] + ", " + kind);
      afresh();
      Bundle::main().removeObject(kWhenInUseKey);
      store(kWhenInUseKey, row[1]);
      provider->setAuthorizationStatus(authorisation(row[2]));
      kind == "continuous" ? controller->startContinuousLocation() : controller->requestSingleLocation(kind == "fast");

      const bool starts = row[3].empty();
      EXPECT_EQ(owner->failures, unlessEmpty(row[3]));
      EXPECT_EQ(controller->isContinuousLocation(), starts && kind == "continuous");
      EXPECT_EQ(controller->isFastOnceLocation(), starts && kind == "fast");
      EXPECT_EQ(controller->isUpdating(), starts && kind != "single");  // a single fix is only requested
      EXPECT_EQ(provider->isUpdating(), starts);
    }
  }
}

TEST_F(LocationControllerTest, ContinuousRequestConfiguresBackgroundUpdatesOrWarns) {
  for (const auto& row : tableRows("location", "continuous_background.txt")) {
    SCOPED_TRACE(row[0]);
    afresh();
    store(kBackgroundModesKey, row[1]);
    store(kAlwaysKey, row[2] == "yes" ? "text:Tracks your walks" : "");
    provider->setAuthorizationStatus(authorisation(row[3]));
    provider->setAnswerToAlwaysRequest(row[4].empty() ? std::nullopt : std::optional(authorisation(row[4])));

    EXPECT_EQ(consoleOf([this] { controller->startContinuousLocation(); }), row[6].empty() ? "" : row[6] + "\n");
    EXPECT_EQ(owner->failures, unlessEmpty(row[5]));
    EXPECT_TRUE(controller->isContinuousLocation());
    EXPECT_EQ(provider->alwaysRequests(), std::stoi(row[7]));
    EXPECT_EQ(controller->isUpdating(), row[8] == "yes");
    EXPECT_EQ(provider->isUpdating(), row[8] == "yes");
    EXPECT_EQ(controller->manager()->allowsBackgroundLocationUpdates(), row[9] == "yes");
  }
}

// Platform errors pass on without stopping.
TEST_F(LocationControllerTest, FixesAndErrorsArePassedOnExceptZeroOrNonFiniteCoordinates) {
  controller->startContinuousLocation();
  for (const auto& row : tableRows("location", "fixes.txt")) {
    SCOPED_TRACE(row[0] + " " + row[1]);
    const Location fix = fixAt(std::stod(row[0]), std::stod(row[1]), std::stod(row[2]));
    const auto before = owner->fixes.size();
    EXPECT_EQ(logOf([&] { push(fix); }), row[3].empty() ? "" : row[3] + "\n");
    ASSERT_EQ(owner->fixes.size(), before + (row[3].empty() ? 0 : 1));
    EXPECT_TRUE(row[3].empty() || sameCoordinate(owner->fixes.back(), fix));
    EXPECT_TRUE(sameCoordinate(controller->locationPoint(), owner->fixes.back()));
  }
  EXPECT_EQ(logOf([this] { pushError("位置暂不可用"); }), "定位失败：位置暂不可用\n");
  EXPECT_EQ(owner->failures, Strings{"位置暂不可用"});
  EXPECT_TRUE(controller->isUpdating() && controller->isContinuousLocation());
}

// The fast window delivers the earliest sample with the smallest non-negative accuracy, then
// stops.
TEST_F(LocationControllerTest, FastWindowDeliversTheBestSampleAndStops) {
  const std::pair<std::vector<double>, std::size_t> rows[] = {// accuracies, the one chosen
                                                              {{10, 5, 5, -1}, 1},
                                                              {{-1, -1}, 0},
                                                              {{-1, 7, 3}, 2},
                                                              {{-5, 0, 2}, 1},
                                                              {{4}, 0}};
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
  EXPECT_EQ(logOf([this] { controller->stopUpdating(); }), "手动停止定位成功\n");
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
  pushError("x");

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
