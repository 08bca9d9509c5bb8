#include "tovik/client/tk_client_location.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "client/client_test_env.h"
#include "tovik/info/build_config.h"
#include "tovik/info/tk_version.h"
#include "tovik/location/location_controller.h"

namespace tovik {
namespace {

using testing_env::stdoutOf;

constexpr const char* kNotAgreed = "您未同意隐私政策";
constexpr const char* kNoAppkey = "您未配置 Appkey";

class TkClientLocationTest : public testing_env::ClientTestEnvironment {};

TEST_F(TkClientLocationTest, ConstructionSetsDefaultsAndAsksForAuthorisationAtOnce) {
  client = makeClient(delegate);
  EXPECT_EQ(client->callDelegate, delegate);
  EXPECT_FALSE(client->accesskey);
  EXPECT_FALSE(client->poiKey);
  EXPECT_EQ(client->interval, 1.0);
  EXPECT_TRUE(client->isLocateOnce);
  EXPECT_FALSE(client->isFastLocation);
  EXPECT_FALSE(client->isAgree);
  EXPECT_EQ(client->serviceURL, TOVIK_DEFAULT_SERVICE_URL);
  EXPECT_FALSE(client->isLocating());
  EXPECT_FALSE(client->hasTimerSchedule());
  // Before any consent is given.
  EXPECT_EQ(provider->whenInUseRequests(), 1);

  // The controller refers back weakly: neither keeps the other alive.
  const std::weak_ptr<LocationController> controller = client->locateDelegate();
  ASSERT_FALSE(controller.expired());
  EXPECT_EQ(controller.lock()->delegate.lock(), client);
  client.reset();
  EXPECT_TRUE(controller.expired());
}

TEST_F(TkClientLocationTest, BannerIsPrintedOncePerFacadeEvenWithLoggingOff) {
  setLogEnabled(false);
  std::shared_ptr<TkClientLocation> first;
  std::shared_ptr<TkClientLocation> second;
  const auto printed = stdoutOf([&] {
    first = TkClientLocation::create(nullptr);
    second = TkClientLocation::create(nullptr);
  });
  const std::string banner =
      "[Tovik] SDK版本: " + TkVersion::sdkVersion() + " (build " + TkVersion::buildNumber() + ")\n";
  EXPECT_EQ(printed, banner + banner);
  EXPECT_EQ(TkVersion::sdkVersion(), TOVIK_BUNDLE_SHORT_VERSION);
}

// Consent comes before the key; only an absent key fails, an empty one passes.
struct PreconditionCase {
  const char* name;
  bool agree;
  std::optional<std::string> key;
  const char* message;  // none: passes
};

class Precondition : public TkClientLocationTest, public testing::WithParamInterface<PreconditionCase> {};

TEST_P(Precondition, ChecksConsentThenKey) {
  const auto& c = GetParam();
  client = makeClient(delegate);
  client->isAgree = c.agree;
  client->accesskey = c.key;
  setLogEnabled(true);

  bool passed = false;
  const auto printed = stdoutOf([&] { passed = client->checkPrivacyAndKey(); });
  EXPECT_EQ(passed, c.message == nullptr);
  if (c.message != nullptr) {
    EXPECT_EQ(printed, std::string(c.message) + "\n");
    EXPECT_EQ(delegate->errors, std::vector<std::string>{c.message});
  } else {
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(delegate->errors.empty());
  }

  // startLocation opens with the same checks and changes nothing when they fail.
  delegate->errors.clear();
  client->startLocation();
  EXPECT_EQ(client->isLocating(), c.message == nullptr);
  if (c.message != nullptr) {
    EXPECT_EQ(delegate->errors, std::vector<std::string>{c.message});
    EXPECT_EQ(provider->starts(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Precondition,
                         testing::Values(PreconditionCase{"NothingGiven", false, std::nullopt, kNotAgreed},
                                         PreconditionCase{"KeyWithoutConsent", false, "k", kNotAgreed},
                                         PreconditionCase{"ConsentWithoutKey", true, std::nullopt, kNoAppkey},
                                         PreconditionCase{"EmptyKeyPasses", true, "", nullptr},
                                         PreconditionCase{"Ready", true, "k", nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TkClientLocationTest, WithoutDelegateChecksStillLogAndLaterDelegateReceives) {
  client = makeClient(nullptr);
  setLogEnabled(true);
  EXPECT_EQ(stdoutOf([this] { EXPECT_FALSE(client->checkPrivacyAndKey()); }), std::string(kNotAgreed) + "\n");

  client->setLocationDelegate(delegate);
  EXPECT_EQ(client->callDelegate, delegate);
  client->setAgreePrivacy(true);
  EXPECT_TRUE(client->isAgree);
  EXPECT_FALSE(client->checkPrivacyAndKey());
  EXPECT_EQ(delegate->errors, std::vector<std::string>{kNoAppkey});
}

TEST_F(TkClientLocationTest, KeysGoToPropertiesAndModuleKeysInOrder) {
  client = makeClient(delegate);
  // Assigning the property satisfies the check but is not what requests carry.
  client->isAgree = true;
  client->accesskey = "direct";
  EXPECT_TRUE(client->checkPrivacyAndKey());
  EXPECT_EQ(moduleAccessKey(), "");

  client->initKey("k");
  EXPECT_EQ(client->accesskey, "k");
  EXPECT_EQ(client->poiKey, "k");
  EXPECT_EQ(moduleAccessKey(), "k");
  EXPECT_EQ(modulePoiKey(), "k");

  client->setPoiKey("p");
  EXPECT_EQ(client->accesskey, "k");
  EXPECT_EQ(moduleAccessKey(), "k");
  EXPECT_EQ(client->poiKey, "p");
  EXPECT_EQ(modulePoiKey(), "p");

  client->initKey("k2");  // one key serves both again
  EXPECT_EQ(client->poiKey, "k2");
  EXPECT_EQ(modulePoiKey(), "k2");

  // The keys are process-wide: they outlive the facade and a second facade replaces them.
  client.reset();
  EXPECT_EQ(moduleAccessKey(), "k2");
  makeClient(nullptr)->setPoiKey("p2");
  EXPECT_EQ(modulePoiKey(), "p2");
}

TEST_F(TkClientLocationTest, MilliStampRoundsHalvesAwayFromZero) {
  client = makeClient(nullptr);
  const struct {
    double seconds;
    std::int64_t millis;
  } cases[] = {
      {1700000000.25, 1700000000250},
      {0.0025, 3},  // 2.5 ms
      {-0.0025, -3},
  };
  for (const auto& c : cases) {
    Clock::pin(c.seconds);
    EXPECT_EQ(client->milliStamp(), c.millis) << c.seconds;
    EXPECT_EQ(client->milliStamp(), client->milliStamp());
  }
}

}  // namespace
}  // namespace tovik
