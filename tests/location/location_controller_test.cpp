#include "tovik/location/location_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
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

Strings failure(const std::string& text) { return text.empty() ? Strings{} : Strings{"failure " + text}; }

/// Shortest text that reads back as `x`.
std::string shortest(double x) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, x).ptr);
}

std::string described(const Location& fix) {
  return "fix " + shortest(fix.coordinate.latitude) + "," + shortest(fix.coordinate.longitude);
}

struct RecordingOwner : LocationControllerDelegate {
  Strings heard;  // "fix LATITUDE,LONGITUDE" or "failure TEXT"
  void locationSuccessWithLocation(const Location& fix) override { heard.push_back(described(fix)); }
  void locationFailedWithErrorMsg(const std::string& msg) override { heard.push_back("failure " + msg); }
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
  const Steps steps = {
      {"continuous", [this](const Step&) { controller->startContinuousLocation(); }},
      {"single", [this](const Step&) { controller->requestSingleLocation(false); }},
      {"fast", [this](const Step&) { controller->requestSingleLocation(true); }},
      {"stop", [this](const Step&) { controller->stopUpdating(); }},
      {"fix", [this](const Step& s) { push(fixAt(s.number(0), s.number(1), s.number(2, 5))); }},
      {"error", [this](const Step& s) { pushError(s.text); }},
      {"past", [](const Step& s) { runPast(s.number(0)); }},
      {"wait", [this](const Step& s) { EXPECT_TRUE(runUntil([&] { return owner->heard.size() >= s.number(0); })); }},
      {"buffered", [this](const Step& s) { EXPECT_EQ(controller->fastBuffer().size(), s.number(0)); }},
      {"point", [this](const Step& s) { EXPECT_EQ(described(controller->locationPoint()), "fix " + s.text); }},
      {"purpose", [](const Step& s) { Bundle::main().setObject(kWhenInUseKey, s.text); }},
      {"nopurpose", [](const Step&) { Bundle::main().removeObject(kWhenInUseKey); }},
      {"orphan", [this](const Step&) { owner.reset(); }},
      {"release",
       [this](const Step&) {
         const std::weak_ptr<LocationController> weak = controller;
         controller.reset();
         EXPECT_TRUE(weak.expired()) << "timers must not keep the controller alive";
       }},
  };
};

class ControllerScript : public LocationControllerTest, public testing::WithParamInterface<Named> {};

TEST_P(ControllerScript, Plays) {
  for (const std::string& line : GetParam().lines) {
    SCOPED_TRACE(line);
    play(line, steps, [this] {
      return stateLine({{controller->isContinuousLocation(), "continuous"},
                        {controller->isFastOnceLocation(), "fast"},
                        {controller->isUpdating(), "updating"},
                        {provider->isUpdating(), "provider"},
                        {controller->hasFastSampleTimer(), "window"},
                        {controller->manager()->allowsBackgroundLocationUpdates(), "background"}},
                       owner->heard);
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, ControllerScript, testing::ValuesIn(scripts("location", "controller.txt")),
                         [](const auto& info) { return info.param.name; });

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
      EXPECT_EQ(owner->heard, failure(row[3]));
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
    EXPECT_EQ(owner->heard, failure(row[5]));
    EXPECT_TRUE(controller->isContinuousLocation());
    EXPECT_EQ(provider->alwaysRequests(), std::stoi(row[7]));
    EXPECT_EQ(controller->isUpdating(), row[8] == "yes");
    EXPECT_EQ(provider->isUpdating(), row[8] == "yes");
    EXPECT_EQ(controller->manager()->allowsBackgroundLocationUpdates(), row[9] == "yes");
  }
}

}  // namespace
}  // namespace tovik::test
