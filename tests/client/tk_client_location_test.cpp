#include "tovik/client/tk_client_location.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "location/location_test_env.h"
#include "support/ready_facade.h"
#include "support/recording_delegate.h"
#include "tovik/client/tk_client_location_probe.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/info/tk_version.h"
#include "tovik/location/location_controller.h"

namespace tovik::test {
namespace {

// Lets itself go inside each callback, as the header allows, and notes when it had let go
// and when it was destroyed (only a local copy is used once it let go).
struct SelfReplacingDelegate : LocationDelegate {
  std::weak_ptr<TkClientLocation> facade;
  std::shared_ptr<Strings> events = std::make_shared<Strings>();

  ~SelfReplacingDelegate() override { events->push_back("destroyed"); }
  void letGo() {
    const auto record = events;
    facade.lock()->callDelegate.reset();
    record->push_back("let go");
  }
  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>&) override { letGo(); }
  void onLocationErrorWithMsg(const std::string&) override { letGo(); }
};

template <class T>
constexpr bool constructibleFromBraces = requires {
  T({});
};
static_assert(!constructibleFromBraces<TkClientLocation>, "only create() makes a facade");

// A facade with consent and a key in a controlled world: scripted provider, offline
// network, clean keys and a delegate that records what reaches the application.
class TkClientLocationTest : public BasicLocationTest<KitWorld> {
 protected:
  void SetUp() override {
    BasicLocationTest::SetUp();
    NetworkChecker::setFlagsSource([] { return std::optional<std::uint32_t>(0); });  // offline
    client = readyFacade(delegate, "", "test-key");
  }
  void TearDown() override {
    client.reset();
    BasicLocationTest::TearDown();
  }

  const LocationController& controller() const { return *TkClientLocationProbe::locateDelegate(*client); }

  /// The facade's keys, then the process-wide ones that requests carry.
  std::string keys() const {
    return client->accesskey.value_or("-") + " " + client->poiKey.value_or("-") + " " + moduleAccessKey() + " " +
           modulePoiKey();
  }
  std::function<void()> thenDoes(const std::string& what) {
    if (what == "stop") return [this] { client->stopLocation(); };
    if (what == "throw") return [] { throw std::runtime_error("the application's"); };
    if (what != "start") return nullptr;
    return [this] {
      TkClientLocation& facade = *client;  // the hook lets itself go first: only once
      delegate->then = nullptr;
      facade.startLocation();
    };
  }

  /// What the recorder heard in `what` since the last time, joined by ", " ("nothing" for none).
  template <class T, class Show>
  static std::string taken(std::vector<T>& what, Show show) {
    std::string joined;
    for (const auto& one : what) {
      joined += (joined.empty() ? "" : ", ") + show(one);
    }
    what.clear();
    return joined.empty() ? "nothing" : joined;
  }
  static std::string availabilitySummary(const LocationAvailability& change) {
    return std::string(change.available ? "true/" : "false/") + std::string(toString(change.reason)) + "/" +
           change.source;
  }
  static std::string rawSummary(const Location& fix) {
    std::ostringstream text;
    text << fix.coordinate.latitude << " " << fix.coordinate.longitude << " " << fix.source
         << (fix.simulated ? " simulated" : "");
    return text.str();
  }

  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  std::shared_ptr<TkClientLocation> client;
  std::shared_ptr<Strings> selfish;                             // what the self-replacing delegate noted
  std::weak_ptr<const LocationController> controllerOfDropped;  // of the facade let go in a callback
  const Steps steps = withSharedSteps(
      [this] { return delegate->heard.size(); },
      {
          {"start", [this](const Step&) { client->startLocation(); }},
          {"fast", [this](const Step&) { client->startFastLocation(); }},
          {"stop", [this](const Step&) { client->stopLocation(); }},
          {"once", [this](const Step& s) { client->isLocateOnce = s.text != "no"; }},
          {"interval", [this](const Step& s) { client->interval = s.number(0); }},
          {"door", [this](const Step& s) { client->locationSuccessWithLocation(fixAt(s.number(0), s.number(1))); }},
          {"agree", [this](const Step& s) { client->isAgree = s.text == "yes"; }},
          {"key", [this](const Step& s) { client->accesskey = s.text == "-" ? std::nullopt : std::optional(s.text); }},
          {"delegate", [this](const Step& s) { client->setLocationDelegate(s.text == "yes" ? delegate : nullptr); }},
          {"check", [this](const Step& s) { EXPECT_EQ(client->checkPrivacyAndKey(), s.text == "yes"); }},
          {"starts", [this](const Step& s) { EXPECT_EQ(provider->starts(), s.number(0)); }},
          {"stops", [this](const Step& s) { EXPECT_EQ(provider->stops(), s.number(0)); }},
          {"then", [this](const Step& s) { delegate->then = thenDoes(s.text); }},
          {"init", [this](const Step& s) { client->initKey(s.text); }},
          {"poi", [this](const Step& s) { client->setPoiKey(s.text); }},
          {"keys", [this](const Step& s) { EXPECT_EQ(keys(), s.text); }},
          {"anew", [this](const Step&) { consoleOf([this] { client = TkClientLocation::create(delegate); }); }},
          {"clock", [](const Step& s) { Clock::pin(s.number(0)); }},
          {"stamp", [this](const Step& s) { EXPECT_EQ(client->milliStamp(), std::stoll(s.text)); }},
          {"selfish",
           [this](const Step&) {
             auto replacing = std::make_shared<SelfReplacingDelegate>();
             replacing->facade = client;
             selfish = replacing->events;
             client->callDelegate = std::move(replacing);
           }},
          {"survived",
           [this](const Step&) {
             EXPECT_EQ(*selfish, Strings({"let go", "destroyed"})) << "destroyed while its member ran, or kept";
             EXPECT_EQ(client->callDelegate, nullptr);
           }},
          {"dropat",
           [this](const Step& s) {
             controllerOfDropped = TkClientLocationProbe::locateDelegate(*client);
             delegate->then = [this, n = s.number(0)] {
               if (delegate->locations().size() == n) client.reset();
             };
           }},
          {"dropped",
           [this](const Step&) {
             ASSERT_TRUE(runUntil([this] { return client == nullptr; }));
             EXPECT_FALSE(provider->isUpdating());
             EXPECT_TRUE(controllerOfDropped.expired());
           }},
          {"typed", [this](const Step& s) { EXPECT_EQ(taken(delegate->typed, typedSummary), s.text); }},
          {"raw", [this](const Step& s) { EXPECT_EQ(taken(delegate->raw, rawSummary), s.text); }},
          {"avail",
           [this](const Step& s) {
             const std::size_t wanted = s.text == "nothing" ? 0 : split(s.text, ", ").size();
             EXPECT_TRUE(runUntil([&] { return delegate->availability.size() >= wanted; }));
             EXPECT_EQ(taken(delegate->availability, availabilitySummary), s.text);
           }},
          {"last",
           [this](const Step& s) {
             const auto fix = client->lastLocation(std::chrono::duration<double>(s.number(0)));
             EXPECT_EQ(fix ? rawSummary(*fix) : "none", s.text.substr(s.text.find(' ') + 1));
           }},
          {"period",
           [this](const Step& s) {
             const auto& timer = TkClientLocationProbe::timerSchedule(*client);
             ASSERT_NE(timer, nullptr);
             EXPECT_EQ(timer->timeInterval(), s.number(0));
           }},
      });
};

TEST_F(TkClientLocationTest, ConstructionAsksForAuthorisationAndPrintsTheBannerEvenWithLoggingOff) {
  const int asked = provider->whenInUseRequests();
  EXPECT_EQ(consoleOf([] { return TkClientLocation::create(nullptr); }),
            "[Tovik] SDK版本: " + TkVersion::sdkVersion() + " (build " + TkVersion::buildNumber() + ")\n");
  EXPECT_EQ(provider->whenInUseRequests(), asked + 1) << "at once, before any consent";
}

// A continuous session answers its first fix at once, then the newest fix once a period,
// paced by its timer rather than by the fixes; other work still gets its turn at the
// period's floor. Offline, each result is the fix in GCJ-02, stamped now, without an id.
TEST_F(TkClientLocationTest, AContinuousSessionAnswersTheNewestFixOnceAPeriod) {
  Clock::pin(1700000000.1234);
  std::vector<double> newest;  // the newest fix's latitude at each result
  delegate->then = [&] { newest.push_back(controller().locationPoint().coordinate.latitude); };
  client->isLocateOnce = false;
  client->interval = 0.0;
  client->startLocation();
  push(fixAt(39.9, 116.4));
  ASSERT_EQ(delegate->locations().size(), 1U) << "the first fix is answered at once";
  int pushed = 1;
  const auto feeder = Timer::scheduledTimer(0.04, true, [&](Timer&) {
    provider->pushLocation(fixAt(39.9 + 0.001 * pushed++, 116.4));  // ~111 m apart
  });
  bool otherWorkRan = false;
  MainQueue::shared().async([&otherWorkRan] { otherWorkRan = true; });
  EXPECT_TRUE(runUntil([&] { return otherWorkRan && delegate->locations().size() >= 3; }));
  feeder->invalidate();
  const auto results = delegate->locations();
  for (std::size_t i = 0; i < results.size(); ++i) {
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ({newest.at(i), 116.4});
    EXPECT_EQ(results[i]->location->position->point->latitude, gcj.latitude);
    EXPECT_EQ(results[i]->location->position->point->longitude, gcj.longitude);
    EXPECT_EQ(results[i]->location->timestamp, 1700000000123);
    EXPECT_EQ(results[i]->id, "");
  }
  EXPECT_GT(newest.back(), newest.front());
  EXPECT_LT(results.size(), static_cast<std::size_t>(pushed)) << "paced by the timer, not by the fixes";
}

class SessionScript : public TkClientLocationTest, public testing::WithParamInterface<Named> {};

// Plays data/sessions.txt, which has the words.
TEST_P(SessionScript, Plays) {
  const auto state = [this] {
    Strings heard = delegate->summaries();
    delegate->heard.clear();
    return stateLine({{client->isLocating(), "locating"},
                      {TkClientLocationProbe::hasTimerSchedule(*client), "timed"},
                      {controller().isUpdating(), "updating"},
                      {provider->isUpdating(), "provider"},
                      {controller().isFastOnceLocation(), "fast"}},
                     heard);
  };
  for (const std::string& line : GetParam().lines) {
    SCOPED_TRACE(line);
    play(line, steps, state);
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, SessionScript, testing::ValuesIn(scripts("client", "sessions.txt")),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tovik::test
