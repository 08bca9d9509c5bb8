// Time from startUpdatingLocation() to the first fix through GeoClue2 (the real daemon on a
// private bus, fed the Beijing walk over its network-NMEA socket), against the same log
// replayed in-process. Each repetition is a new provider and a new GeoClue client; the
// median of 20 is what to read.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/geoclue_world.h"
#include "tovik/providers/geoclue_location_provider.h"
#include "tovik/providers/location_manager.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/nmea_replay_provider.h"

namespace {

using namespace std::chrono_literals;

const std::string kLog = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";

struct FirstFix : tovik::LocationManagerDelegate {
  bool fixed = false;
  bool failed = false;
  void didUpdateLocations(tovik::LocationManager&, const std::vector<tovik::Location>&) override { fixed = true; }
  void didFailWithError(tovik::LocationManager&, const tovik::Error&) override { failed = true; }
};

// Seconds from the start of updates to the first fix through `provider`; false on a failure.
bool timeFirstFix(benchmark::State& state, const std::shared_ptr<tovik::LocationProvider>& provider) {
  tovik::LocationServices::setProvider(provider);
  const auto delegate = std::make_shared<FirstFix>();
  tovik::LocationManager manager;
  manager.setDelegate(delegate);
  const auto start = std::chrono::steady_clock::now();
  manager.startUpdatingLocation();
  tovik::MainQueue::shared().runUntil([&] { return delegate->fixed || delegate->failed; }, 20s);
  state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  manager.stopUpdatingLocation();
  tovik::LocationServices::setProvider(nullptr);
  return delegate->fixed;
}

void BM_FirstFixThroughGeoclue(benchmark::State& state) {
  static tovik::test::GeoclueWorld world(kLog);
  if (!world.problem().empty()) {
    state.SkipWithError(world.problem().c_str());
    return;
  }
  for (auto _ : state) {
    tovik::GeoclueLocationProvider::Options options;
    options.busAddress = world.busAddress();
    options.desktopId = tovik::test::GeoclueWorld::kAllowedApp;
    if (!timeFirstFix(state, std::make_shared<tovik::GeoclueLocationProvider>(options))) {
      state.SkipWithError(("no fix through GeoClue: " + world.geoclueLog()).c_str());
      return;
    }
  }
}

void BM_FirstFixReplayedInProcess(benchmark::State& state) {
  for (auto _ : state) {
    if (!timeFirstFix(state, std::make_shared<tovik::NmeaReplayProvider>(kLog, 1.0))) {
      state.SkipWithError("no fix from the replay");
      return;
    }
  }
}

BENCHMARK(BM_FirstFixReplayedInProcess)->UseManualTime()->Iterations(1)->Repetitions(20)->ReportAggregatesOnly()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstFixThroughGeoclue)->UseManualTime()->Iterations(1)->Repetitions(20)->ReportAggregatesOnly()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
