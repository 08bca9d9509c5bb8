#include "tovik/geofence/geofence_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

#include "location/location_test_env.h"
#include "support/expected_file.h"
#include "support/utc_text.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/providers/nmea_replay_provider.h"

// The geofence monitor on a scripted source and on replayed logs: the scripts of
// data/monitor.txt, the replays against their expected events, the targets of a walk out of
// a fence, the index against a plain test of every fence, and fixes fed from another thread.
namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::Step;
using test::Steps;
using test::Strings;

const test::ExpectedFiles kExpected("geofence");

std::string dataLog(const std::string& name) { return std::string(TOVIK_TEST_DATA_DIR) + "/" + name; }

/// What the monitor told the application: "enter gate" in `heard`, and the same with the
/// fix's time and position in `detailed` (the form of the expected files).
struct Recorder : GeofenceDelegate {
  void onReceivedGeofenceEvent(const GeofenceEvent& event) override {
    offMainThread |= !MainQueue::shared().isMainThread();
    const std::string said = std::string(geofenceTransitionName(event.transition)) + " " + event.id;
    heard.push_back(said);
    char position[64];
    std::snprintf(position, sizeof position, "%.7f %.7f", event.location.coordinate.latitude,
                  event.location.coordinate.longitude);
    detailed.push_back(test::utcText(event.time) + " " + said + " " + position);
    events.push_back(event);
    if (then) std::exchange(then, nullptr)();
  }
  void onGeofenceSourceError(const Error& error) override { heard.push_back("error " + error.localizedDescription()); }

  Strings heard;
  Strings detailed;
  std::vector<GeofenceEvent> events;
  std::function<void()> then;  // once, inside the next event
  bool offMainThread = false;
};

/// The options after a fence's shape: datum=, want=enter,exit,dwell, loiter=, expiry=,
/// initial=no, band=, confirm=.
void readOption(const std::string& word, Geofence& fence) {
  const auto equals = word.find('=');
  const std::string name = word.substr(0, equals);
  const std::string value = word.substr(equals + 1);
  if (name == "datum") {
    fence.datum = *datumNamed(value);
  } else if (name == "want") {
    fence.transitions = 0;
    for (const std::string& t : test::split(value, ",")) {
      fence.transitions |= static_cast<GeofenceTransitions>(
          test::named<GeofenceTransition>({"", "enter", "exit", "", "dwell"}, t));
    }
  } else if (name == "loiter") {
    fence.loiteringDelay = std::stod(value);
  } else if (name == "expiry") {
    fence.expiry = std::stod(value);
  } else if (name == "initial") {
    fence.initialTrigger = value != "no";
  } else if (name == "band") {
    fence.exitBand = std::stod(value);
  } else if (name == "confirm") {
    fence.exitConfirmations = std::stoi(value);
  } else {
    ADD_FAILURE() << "unknown option " << word;
  }
}

Coordinate pointOf(const std::string& text) {
  const auto comma = text.find(',');
  return {std::stod(text.substr(0, comma)), std::stod(text.substr(comma + 1))};
}

class GeofenceMonitorTest : public test::BasicLocationTest<test::PlatformWorld> {
 protected:
  void SetUp() override {
    BasicLocationTest::SetUp();
    monitor = GeofenceMonitor::create(recorder);
    monitor->attach(provider);
  }
  void TearDown() override {
    monitor.reset();
    BasicLocationTest::TearDown();
  }

  /// A fix at the script's clock, which each fix moves on by a second.
  Location stamped(const Step& s) {
    Location fix = test::fixAt(s.number(0), s.number(1), s.number(2, 5));
    fix.timestamp = now;
    now += 1s;
    return fix;
  }

  void add(const Step& s, Geofence fence) {
    fence.id = s.words.at(0);
    if (!monitor->addGeofence(fence)) recorder->heard.push_back("refused " + fence.id + ": " + *fence.problem());
  }

  /// Replays a log of data/ as fast as it reads, through the real NMEA source.
  void replay(const std::string& log) {
    const auto source = std::make_shared<NmeaReplayProvider>(dataLog(log), 0.0);
    monitor->attach(source);
    ASSERT_TRUE(runUntil([&] { return source->reachedEnd(); }, 60s)) << log;
    monitor->attach(provider);
  }

  /// The fences the device is inside, then what the application heard since the last look.
  std::string state() {
    std::string inside;
    for (const std::string& id : added)
      if (monitor->isInside(id)) inside += (inside.empty() ? "" : " ") + id;
    std::string said;
    for (const std::string& one : recorder->heard) said += (said.empty() ? "" : ", ") + one;
    recorder->heard.clear();
    return (inside.empty() ? "outside" : inside) + " | " + (said.empty() ? "nothing" : said);
  }

  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<GeofenceMonitor> monitor;
  std::chrono::system_clock::time_point now = std::chrono::sys_days(std::chrono::year{2024} / 5 / 1) + 2h;
  std::set<std::string> added;
  const Steps steps = withSharedSteps(
      [this] { return recorder->heard.size(); },
      {
          {"circle",
           [this](const Step& s) {
             Geofence fence{.shape = GeofenceCircle{{s.number(1), s.number(2)}, s.number(3)}};
             for (std::size_t i = 4; i < s.words.size(); ++i) readOption(s.words[i], fence);
             added.insert(s.words.at(0));
             add(s, fence);
           }},
          {"polygon",
           [this](const Step& s) {
             GeofencePolygon polygon;
             Geofence fence;
             for (std::size_t i = 1; i < s.words.size(); ++i) {
               const std::string& word = s.words[i];
               if (word == "hole") {
                 polygon.holes.emplace_back();
               } else if (word.find('=') != std::string::npos) {
                 readOption(word, fence);
               } else {
                 (polygon.holes.empty() ? polygon.ring : polygon.holes.back()).push_back(pointOf(word));
               }
             }
             fence.shape = polygon;
             added.insert(s.words.at(0));
             add(s, fence);
           }},
          {"remove", [this](const Step& s) { EXPECT_EQ(monitor->removeGeofence(s.text), s.text != "nothing"); }},
          {"clear", [this](const Step&) { monitor->removeAllGeofences(); }},
          {"count", [this](const Step& s) { EXPECT_EQ(monitor->geofenceCount(), s.number(0)); }},
          {"fix", [this](const Step& s) { push(stamped(s)); }},
          {"feed", [this](const Step& s) { monitor->evaluate(stamped(s)); }},
          {"after", [this](const Step& s) { now += std::chrono::milliseconds(static_cast<int>(s.number(0) * 1000)); }},
          {"clock", [](const Step& s) { Clock::pin(s.number(0)); }},
          {"attach", [this](const Step&) { monitor->attach(provider); }},
          {"detach", [this](const Step&) { monitor->detach(); }},
          {"updating", [this](const Step& s) { EXPECT_EQ(provider->isUpdating(), s.text == "yes"); }},
          {"replay", [this](const Step& s) { replay(s.text); }},
          {"golden",
           [this](const Step& s) {
             kExpected.expectSame(recorder->detailed, s.text);
             recorder->detailed.clear();
           }},
          {"then",
           [this](const Step& s) {
             if (s.words.at(0) == "remove") recorder->then = [this, id = s.words.at(1)] { monitor->removeGeofence(id); };
             if (s.words.at(0) == "release") recorder->then = [this] { monitor.reset(); };
             if (s.words.at(0) == "silence") recorder->then = [this] { monitor->setDelegate(nullptr); };
           }},
          {"released", [this](const Step&) { EXPECT_EQ(monitor, nullptr); }},
      });
};

class GeofenceScript : public GeofenceMonitorTest, public testing::WithParamInterface<test::Named> {};

TEST_P(GeofenceScript, Plays) {
  for (const std::string& line : GetParam().lines) {
    SCOPED_TRACE(line);
    test::play(line, steps, [this] { return state(); });
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, GeofenceScript, testing::ValuesIn(test::scripts("geofence", "monitor.txt")),
                         [](const auto& info) { return info.param.name; });

// The walk's targets, measured on its own fixes: the exit within two fixes of the first fix
// beyond the band (its accuracy counted), the dwell within the loitering delay and one fix.
TEST_F(GeofenceMonitorTest, WalkOutIsReportedWithinTwoFixesOfLeavingTheBandAndDwellWithinTheDelayAndAFix) {
  const Coordinate center{39.9087, 116.3975};
  const Geofence gate{.id = "gate",
                      .shape = GeofenceCircle{center, 50.0},
                      .transitions = GeofenceTransition::enter | GeofenceTransition::exit | GeofenceTransition::dwell,
                      .loiteringDelay = 30.0};
  ASSERT_TRUE(monitor->addGeofence(gate));
  struct Fixes : LocationProviderListener {
    void providerDidUpdateLocation(const Location& fix) override { all.push_back(fix); }
    void providerDidFail(const Error&) override {}
    std::vector<Location> all;
  };
  const auto fixes = std::make_shared<Fixes>();
  const auto source = std::make_shared<NmeaReplayProvider>(dataLog("geofence_walkout.nmea"), 0.0);
  source->addListener(fixes);
  monitor->attach(source);
  ASSERT_TRUE(runUntil([&] { return source->reachedEnd(); }, 60s));
  monitor->detach();
  source->removeListener(fixes.get());

  // The number of the fix that made the walk's only `transition`.
  const auto fixOf = [&](GeofenceTransition transition) {
    const auto event = std::find_if(recorder->events.begin(), recorder->events.end(),
                                    [&](const GeofenceEvent& e) { return e.transition == transition; });
    if (event == recorder->events.end()) return fixes->all.size();
    const auto fix = std::find_if(fixes->all.begin(), fixes->all.end(),
                                  [&](const Location& f) { return f.timestamp == event->time; });
    return static_cast<std::size_t>(fix - fixes->all.begin());
  };
  const double edge = 50.0 + Geofence::kMinimumExitBand;  // 10 % of 50 m is less than the minimum
  const auto beyond = std::find_if(fixes->all.begin(), fixes->all.end(), [&](const Location& fix) {
    return OrbCoorTransform::distanceByPoint(fix.coordinate, center) - fix.horizontalAccuracy > edge;
  });
  ASSERT_NE(beyond, fixes->all.end());
  const auto left = static_cast<std::size_t>(beyond - fixes->all.begin());
  EXPECT_GE(fixOf(GeofenceTransition::exit), left);
  EXPECT_LE(fixOf(GeofenceTransition::exit), left + 1);

  const std::size_t dwelt = fixOf(GeofenceTransition::dwell);
  ASSERT_LT(dwelt, fixes->all.size());
  const auto stayed = fixes->all[dwelt].timestamp - fixes->all[fixOf(GeofenceTransition::enter)].timestamp;
  EXPECT_GE(stayed, 30s);
  EXPECT_LE(stayed, 31s);  // a fix a second
}

// Thousands of fences of both kinds and many fixes: after each fix the monitor has the device
// inside exactly the fences a plain test of every one of them holds it in (no band, one
// confirmation), so the index never misses a fence.
TEST_F(GeofenceMonitorTest, IndexAgreesWithAPlainTestOfEveryFence) {
  std::mt19937_64 random(28);
  std::uniform_real_distribution<double> latitude(39.85, 39.95), longitude(116.35, 116.45), size(50.0, 600.0);
  struct Plain {
    std::string id;
    Coordinate center;
    double radius;  // a circle, or half the side of a square (in degrees of latitude, when negative)
  };
  std::vector<Plain> plain;
  for (int i = 0; i < 3000; ++i) {
    Geofence fence{.id = "f" + std::to_string(i), .exitBand = 0.0, .exitConfirmations = 1};
    const Coordinate center{latitude(random), longitude(random)};
    const double metres = size(random);
    if (i % 2 == 0) {
      fence.shape = GeofenceCircle{center, metres};
      plain.push_back({fence.id, center, metres});
    } else {
      const double h = metres / 111195.0;
      fence.shape = GeofencePolygon{{{center.latitude - h, center.longitude - h},
                                     {center.latitude - h, center.longitude + h},
                                     {center.latitude + h, center.longitude + h},
                                     {center.latitude + h, center.longitude - h}},
                                    {}};
      plain.push_back({fence.id, center, -h});
    }
    ASSERT_TRUE(monitor->addGeofence(fence));
  }
  for (int n = 0; n < 400; ++n) {
    const Coordinate at{latitude(random), longitude(random)};
    push(test::fixAt(at.latitude, at.longitude, 0.0));
    for (const Plain& f : plain) {
      const bool inside = f.radius > 0 ? OrbCoorTransform::distanceByPoint(f.center, at) <= f.radius
                                       : std::abs(at.latitude - f.center.latitude) <= -f.radius &&
                                             std::abs(at.longitude - f.center.longitude) <= -f.radius;
      ASSERT_EQ(monitor->isInside(f.id), inside) << f.id << " at fix " << n;
    }
  }
}

// Fixes fed from the application's own thread are tested on the main thread, in order.
TEST_F(GeofenceMonitorTest, FixesFedFromAnotherThreadAreTestedOnTheMainThreadInOrder) {
  ASSERT_TRUE(monitor->addGeofence({.id = "gate", .shape = GeofenceCircle{{39.9087, 116.3975}, 50.0}}));
  std::thread feeder([&] {
    for (int i = 0; i < 200; ++i) {
      // Inside and 300 m out by turns: an entry, then an exit at the second fix out.
      const int leg = i / 2 % 2;
      Location fix = test::fixAt(39.9087 + leg * 0.0027, 116.3975, 3.0);
      fix.timestamp = now + std::chrono::seconds(i);
      monitor->evaluate(fix);
    }
  });
  EXPECT_TRUE(runUntil([&] { return recorder->heard.size() == 100; }));
  feeder.join();
  MainQueue::shared().poll();
  EXPECT_FALSE(recorder->offMainThread);
  ASSERT_EQ(recorder->heard.size(), 100u);
  for (std::size_t i = 0; i < recorder->heard.size(); ++i) {
    EXPECT_EQ(recorder->heard[i], i % 2 == 0 ? "enter gate" : "exit gate") << i;
  }
}

}  // namespace
}  // namespace tovik
