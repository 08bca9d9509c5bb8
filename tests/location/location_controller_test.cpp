#include "tovik/location/location_controller.h"

#include <gtest/gtest.h>

#include <charconv>

#include "location/location_test_env.h"

namespace tovik::test {
namespace {

AuthorizationStatus authorisation(const std::string& name) {
  return named<AuthorizationStatus>({"notDetermined", "restricted", "denied", "always", "whenInUse"}, name);
}

/// "text:x", "num:1", "list:a,b"; empty: nothing stored.
void store(const char* key, const std::string& field) {
  Bundle::main().removeObject(key);
  const std::string text = field.substr(std::min(field.find(':') + 1, field.size()));
  if (field.starts_with("text:")) Bundle::main().setObject(key, text);
  if (field.starts_with("num:")) Bundle::main().setObject(key, std::stod(text));
  if (field.starts_with("list:")) Bundle::main().setObject(key, split(text, ","));
}

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

class ControllerScript : public BasicLocationTest<PlatformWorld>, public testing::WithParamInterface<Named> {
 protected:
  void SetUp() override {
    BasicLocationTest::SetUp();
    controller = std::make_shared<LocationController>();
    controller->delegate = owner;
    controller->initOption();
  }
  void TearDown() override {
    controller.reset();
    BasicLocationTest::TearDown();
  }
  std::shared_ptr<RecordingOwner> owner = std::make_shared<RecordingOwner>();
  std::shared_ptr<LocationController> controller;
  const Steps steps = withSharedSteps(
      [this] { return owner->heard.size(); },
      {
          {"continuous", [this](const Step&) { controller->startContinuousLocation(); }},
          {"single", [this](const Step&) { controller->requestSingleLocation(false); }},
          {"fast", [this](const Step&) { controller->requestSingleLocation(true); }},
          {"stop", [this](const Step&) { controller->stopUpdating(); }},
          {"buffered", [this](const Step& s) { EXPECT_EQ(controller->fastBuffer().size(), s.number(0)); }},
          {"point", [this](const Step& s) { EXPECT_EQ(described(controller->locationPoint()), "fix " + s.text); }},
          {"plist", [](const Step& s) { store(s.words.at(0).c_str(), s.words.size() > 1 ? s.words[1] : ""); }},
          {"auth", [this](const Step& s) { provider->setAuthorizationStatus(authorisation(s.text)); }},
          {"answer", [this](const Step& s) { provider->setAnswerToAlwaysRequest(authorisation(s.text)); }},
          {"asked", [this](const Step& s) { EXPECT_EQ(provider->alwaysRequests(), s.number(0)); }},
          {"filter", [this](const Step& s) { EXPECT_EQ(controller->manager()->distanceFilter(), s.number(0)); }},
          {"inuse", [this](const Step& s) { EXPECT_EQ(provider->whenInUseRequests(), s.number(0)); }},
          {"another", [](const Step&) { std::make_shared<LocationController>()->initOption(); }},
          {"orphan", [this](const Step&) { owner.reset(); }},
          {"release",
           [this](const Step&) {
             const std::weak_ptr<LocationController> weak = controller;
             controller.reset();
             EXPECT_TRUE(weak.expired()) << "timers must not keep the controller alive";
           }},
      });
};

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

}  // namespace
}  // namespace tovik::test
