#include "tovik/providers/location_manager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "provider_support.h"
#include "tovik/providers/location_manager_probe.h"
#include "tovik/providers/location_services.h"
#include "tovik/providers/scripted_location_provider.h"
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

  std::string name;
  std::vector<std::string>& out;
  std::function<void()> onFix;
};

// Plays data/location_manager.script: each "begin" a scripted provider of its own; "NAME ..."
// acts on a manager (new, start, stop, request, filter METRES, destroy, on-fix stop|destroy);
// "push METRES" and "fail CODE" come from the provider; "provider default" sets the default
// one (which finds no source here) for the next starts; "status" shows the authorisation; "listener add|drop" is a bare
// listener of the provider; "settle" runs the queue past the request time-out; "wait-error NAME" runs it until NAME
// hears an error; "counts" shows the provider's starts, stops and state. The transcript (the script with what was
// heard) is compared with data/location_manager.expected.
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
    } else if (name == "wait-error") {
      const std::size_t before = out.size();
      EXPECT_TRUE(queue().runUntil([&] { return out.size() > before; }, 10s)) << line;
    } else if (name == "counts") {
      out.push_back("  provider: " + std::to_string(provider->starts()) + " starts, " +
                    std::to_string(provider->stops()) + " stops, " + (provider->isUpdating() ? "updating" : "idle") +
                    (provider->hasListeners() ? ", listened to" : ""));
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

}  // namespace
}  // namespace tovik
