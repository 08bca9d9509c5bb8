#include "tovik/providers/location_manager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "provider_support.h"
#include "support/data_table.h"
#include "tovik/providers/location_manager_probe.h"
#include "tovik/providers/location_services.h"
#include "tovik/providers/retry_backoff.h"
#include "tovik/providers/scripted_location_provider.h"
#include "tovik/providers/source_watchdog.h"
#include "tovik/system/earth.h"

namespace tovik {
namespace {

using namespace std::chrono_literals;
using test::queue;

// Metres per degree of latitude on the sphere the manager measures with.
constexpr double kMetresPerDegree = kEarthRadius * 3.14159265358979323846 / 180.0;

// A fix that many metres north of the start, tagged with that number in its altitude.
Location fixAt(double northMetres) {
  return {.coordinate = {39.9087 + northMetres / kMetresPerDegree, 116.3975},
          .altitude = northMetres,
          .horizontalAccuracy = 5.0};
}

// Notes what one manager (or a bare provider listener) hears; `onFix` runs inside the callback.
struct Recorder : LocationManagerDelegate, LocationProviderListener {
  Recorder(std::string name, std::vector<std::string>& out) : name(std::move(name)), out(out) {}
  void didUpdateLocations(LocationManager&, const std::vector<Location>& locations) override {
    for (const auto& fix : locations) providerDidUpdateLocation(fix);
    if (onFix) onFix();
  }
  void didFailWithError(LocationManager&, const Error& error) override { providerDidFail(error); }
  void providerDidUpdateLocation(const Location& fix) override {
    out.push_back("  " + name + ": fix " + (std::ostringstream() << fix.altitude).str());
  }
  void providerDidFail(const Error& error) override {
    out.push_back("  " + name + ": error " + error.domain() + " " + std::to_string(error.code()));
  }
  void didChangeAvailability(LocationManager&, const LocationAvailability& change) override {
    providerDidChangeAvailability(change);
  }
  void providerDidChangeAvailability(const LocationAvailability& change) override {
    out.push_back("  " + name + ": " + test::describe(change));
  }

  std::string name;
  std::vector<std::string>& out;
  std::function<void()> onFix;
};

// Plays data/location_manager.script: each "begin" a scripted provider of its own; "NAME ..."
// acts on a manager (new, start, stop, request, filter METRES, accuracy METRES, destroy, on-fix
// stop|destroy); "push METRES" and "fail CODE" come from the provider; "provider default" sets the default
// one (which finds no source here) for the next starts; "status" shows the authorisation; "listener add|drop" is a bare
// listener of the provider; "settle" runs the queue past the request time-out; "wait NAME" runs it until NAME
// hears something; "counts" shows the provider's starts, stops and state; "wants" what its listeners ask of it. The
// transcript (the script with what was heard) is compared with data/location_manager.expected.
TEST(LocationManagerTest, ScriptedSessionsGiveTheExpectedTranscript) {
  std::ifstream script(TOVIK_TESTS_DIR "/providers/data/location_manager.script");
  ASSERT_TRUE(script);
  std::vector<std::string> out;
  std::shared_ptr<ScriptedLocationProvider> provider;
  std::map<std::string, std::unique_ptr<LocationManager>> managers;
  std::map<std::string, std::shared_ptr<Recorder>> delegates;
  std::shared_ptr<Recorder> listener;
  for (std::string line; std::getline(script, line);) {
    out.push_back(line);
    std::istringstream words(line);
    std::string name, verb, argument;
    words >> name >> verb >> argument;
    if (name.empty() || name.starts_with("#")) continue;
    if (name == "begin") {
      managers.clear();
      delegates.clear();
      provider = std::make_shared<ScriptedLocationProvider>();
      LocationServices::setProvider(provider);
    } else if (name == "push") {
      provider->pushLocation(fixAt(std::stod(verb)));
    } else if (name == "fail") {
      provider->pushError(Error("Test", std::stol(verb), "lost"));
    } else if (name == "listener") {
      if (verb == "add" && !listener) listener = std::make_shared<Recorder>("listener", out);
      if (verb == "add") provider->addListener(listener);  // once only, however often
      if (verb == "drop") listener.reset();
    } else if (name == "provider") {
      LocationServices::setProvider(nullptr);  // the default one, for the managers that start next
    } else if (name == "status") {
      out.push_back("  authorization " + std::to_string(static_cast<int>(LocationManager::authorizationStatus())));
    } else if (name == "settle") {
      queue().runFor(40ms);
    } else if (name == "wait") {
      const std::size_t before = out.size();
      EXPECT_TRUE(queue().runUntil([&] { return out.size() > before; }, 10s)) << line;
    } else if (name == "counts") {
      out.push_back("  provider: " + std::to_string(provider->starts()) + " starts, " +
                    std::to_string(provider->stops()) + " stops, " + (provider->isUpdating() ? "updating" : "idle") +
                    (provider->hasListeners() ? ", listened to" : ""));
    } else if (name == "wants") {
      const UpdateRequirements& wanted = provider->requirements();
      out.push_back("  provider asked for accuracy " + (std::ostringstream() << wanted.desiredAccuracy).str() +
                    ", distance filter " + (std::ostringstream() << wanted.distanceFilter).str());
    } else if (verb == "new") {
      managers[name] = std::make_unique<LocationManager>();
      if (!delegates[name]) delegates[name] = std::make_shared<Recorder>(name, out);
      managers[name]->setDelegate(delegates[name]);
      LocationManagerProbe::setRequestLocationTimeout(*managers[name], 0.01);
    } else {
      LocationManager& manager = *managers.at(name);
      if (verb == "start") manager.startUpdatingLocation();
      if (verb == "stop") manager.stopUpdatingLocation();
      if (verb == "request") manager.requestLocation();
      if (verb == "filter") manager.setDistanceFilter(std::stod(argument));
      if (verb == "accuracy") manager.setDesiredAccuracy(std::stod(argument));
      if (verb == "destroy") managers[name].reset();
      if (verb == "on-fix" && argument == "stop")
        delegates[name]->onFix = [&, name] { managers[name]->stopUpdatingLocation(); };
      if (verb == "on-fix" && argument == "destroy") delegates[name]->onFix = [&, name] { managers[name].reset(); };
    }
  }
  managers.clear();
  LocationServices::setProvider(nullptr);
  test::expectSameAsFile(out, "location_manager");
}

// Arrival times of data/watchdog.txt: "T" absolute, "+GAPxN" N more GAP apart; none at all.
std::vector<SourceWatchdog::Clock::duration> arrivals(const std::string& text) {
  std::vector<SourceWatchdog::Clock::duration> times;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!word.starts_with("+")) {
      times.push_back(std::chrono::milliseconds(std::stol(word)));
      continue;
    }
    const auto x = word.find('x');
    const std::chrono::milliseconds gap(std::stol(word.substr(1, x)));
    for (long n = x == std::string::npos ? 1 : std::stol(word.substr(x + 1)); n > 0; --n) {
      times.push_back(times.back() + gap);
    }
  }
  return times;
}

// The watchdog's reading of arrival times, row by row of data/watchdog.txt.
TEST(SourceWatchdogTest, ExpectsTheMedianGapWithinItsBoundsAndCountsSilenceFromTheLastFix) {
  const auto rows = test::tableRows("providers", "watchdog.txt");
  EXPECT_GT(rows.size(), 5u);
  for (const auto& [name, fields] : rows) {
    SCOPED_TRACE(name);
    ASSERT_EQ(fields.size(), 4u);
    const auto start = SourceWatchdog::Clock::time_point() + std::chrono::hours(1);
    SourceWatchdog watchdog;
    watchdog.start(start - std::chrono::hours(1));  // a start afresh forgets what came before
    watchdog.fixArrived(start - std::chrono::minutes(1));
    watchdog.start(start);
    for (const auto at : arrivals(fields[1])) watchdog.fixArrived(start + at);
    EXPECT_EQ(watchdog.expectedInterval(), std::chrono::milliseconds(std::stol(fields[2])));
    EXPECT_EQ(watchdog.deadline(), start + std::chrono::milliseconds(std::stol(fields[3])));
  }
}

// Reconnection waits: drawn under a bound that doubles from 0.5 s to 30 s and stays there, as
// low as zero and as high as the bound (full jitter), back under 0.5 s after a success, a
// moment's grace after a loss, and different from one reader to the next.
TEST(RetryBackoffTest, DrawsUnderABoundDoublingToThirtySecondsWithFullJitter) {
  using std::chrono::milliseconds;
  RetryBackoff backoff(7);
  const std::vector<milliseconds> bounds = {milliseconds(500),  milliseconds(1000),  milliseconds(2000),
                                            milliseconds(4000), milliseconds(8000),  milliseconds(16000),
                                            milliseconds(30000), milliseconds(30000), milliseconds(30000)};
  for (const auto bound : bounds) {
    EXPECT_EQ(backoff.bound(), bound);
    const auto wait = backoff.next();
    EXPECT_GE(wait, milliseconds(0));
    EXPECT_LE(wait, bound);
  }
  milliseconds shortest(RetryBackoff::kLongestBound), longest(0);
  std::vector<milliseconds> first;
  for (int i = 0; i < 2000; ++i) {
    const auto wait = backoff.next();
    EXPECT_LE(wait, RetryBackoff::kLongestBound);
    shortest = std::min(shortest, wait);
    longest = std::max(longest, wait);
    if (i < 8) first.push_back(wait);
  }
  EXPECT_LT(shortest, milliseconds(1000)) << "the whole range, from zero";
  EXPECT_GT(longest, milliseconds(29000)) << "up to the bound";
  backoff.reset();
  EXPECT_EQ(backoff.bound(), RetryBackoff::kFirstBound);
  EXPECT_LE(backoff.next(), RetryBackoff::kFirstBound);
  // A source that went away is given between 0.5 and 1 s, then the waits start over.
  for (int i = 0; i < 50; ++i) {
    backoff.next();
    const auto pause = backoff.afterLoss();
    EXPECT_GE(pause, RetryBackoff::kFirstBound);
    EXPECT_LE(pause, 2 * RetryBackoff::kFirstBound);
    EXPECT_EQ(backoff.bound(), RetryBackoff::kFirstBound);
  }

  RetryBackoff other(8);
  for (int i = 0; i < 9; ++i) other.next();
  std::vector<milliseconds> second;
  for (int i = 0; i < 8; ++i) second.push_back(other.next());
  EXPECT_NE(first, second) << "two readers do not come back in step";
}

}  // namespace
}  // namespace tovik
