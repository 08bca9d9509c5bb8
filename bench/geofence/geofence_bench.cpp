// The geofence monitor's cost per fix with 10,000 fences: circles of 100 to 150 m, or polygons
// of 100 vertices as large, spread over a city (0.2° × 0.2° around Beijing, so that a fix
// lies in one or two of them on average), and fixes anywhere in it. Each fix is timed on its
// own; `p50_us` and `p99_us` are the median and the 99th percentile of one run. Beside them,
// the same fences tested one by one without the index (`EveryFence`), in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "tovik/geofence/fence_shape.h"
#include "tovik/geofence/geofence_monitor.h"

namespace tovik::bench {
namespace {

constexpr int kFences = 10'000;
constexpr int kVertices = 100;
constexpr double kSouth = 39.8, kWest = 116.3, kSpan = 0.2;
constexpr double kMetresPerDegree = 111'195.0;

struct Counter : GeofenceDelegate {
  void onReceivedGeofenceEvent(const GeofenceEvent&) override { ++events; }
  long events = 0;
};

enum class Kind { circles, polygons };

/// The same fences in every run.
std::vector<Geofence> fences(Kind kind) {
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> along(0.0, kSpan), radius(100.0, 150.0), wobble(0.8, 1.2);
  std::vector<Geofence> out;
  for (int i = 0; i < kFences; ++i) {
    const Coordinate center{kSouth + along(random), kWest + along(random)};
    const double r = radius(random);
    Geofence fence{.id = "fence-" + std::to_string(i)};
    if (kind == Kind::circles) {
      fence.shape = GeofenceCircle{center, r};
    } else {
      // A ragged ring: each vertex at 80 to 120 % of the radius, so the ring is not convex.
      GeofencePolygon polygon;
      const double perLongitude = kMetresPerDegree * std::cos(center.latitude * std::numbers::pi / 180.0);
      for (int v = 0; v < kVertices; ++v) {
        const double angle = 2.0 * std::numbers::pi * v / kVertices;
        const double reach = r * wobble(random);
        polygon.ring.push_back({center.latitude + reach * std::sin(angle) / kMetresPerDegree,
                                center.longitude + reach * std::cos(angle) / perLongitude});
      }
      fence.shape = std::move(polygon);
    }
    out.push_back(std::move(fence));
  }
  return out;
}

enum class Motion { driving, jumping };

/// Fixes over the fences a second apart, 5 m accuracy: a device driving about at 10 m/s,
/// turning a little each second (it crosses a fence every few seconds), or fixes anywhere in
/// the city one after another, each far from the last (every fix leaves its fences and enters
/// others, and finds nothing in the caches: the worst case).
std::vector<Location> fixes(std::size_t count, Motion motion) {
  std::mt19937_64 random(28);
  std::uniform_real_distribution<double> along(0.0, kSpan), turn(-0.3, 0.3);
  std::vector<Location> out(count);
  auto time = std::chrono::system_clock::time_point(std::chrono::hours(24 * 19844));
  Coordinate at{kSouth + kSpan / 2, kWest + kSpan / 2};
  double heading = 0.0;
  for (Location& fix : out) {
    if (motion == Motion::jumping) {
      at = {kSouth + along(random), kWest + along(random)};
    } else {
      heading += turn(random);
      const Coordinate next{at.latitude + 10.0 * std::cos(heading) / kMetresPerDegree,
                            at.longitude + 10.0 * std::sin(heading) /
                                               (kMetresPerDegree * std::cos(at.latitude * std::numbers::pi / 180))};
      const bool inCity = next.latitude > kSouth && next.latitude < kSouth + kSpan && next.longitude > kWest &&
                          next.longitude < kWest + kSpan;
      // Turned back at the city's edge.
      if (inCity)
        at = next;
      else
        heading += std::numbers::pi;
    }
    fix.coordinate = at;
    fix.horizontalAccuracy = 5.0;
    fix.timestamp = time += std::chrono::seconds(1);
  }
  return out;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& nanoseconds) {
  if (nanoseconds.empty()) return;
  std::sort(nanoseconds.begin(), nanoseconds.end());
  const auto at = [&](double share) {
    return nanoseconds[std::min(nanoseconds.size() - 1, static_cast<std::size_t>(share * nanoseconds.size()))];
  };
  state.counters["p50_us"] = at(0.50) / 1000.0;
  state.counters["p99_us"] = at(0.99) / 1000.0;
}

void evaluateEachFix(benchmark::State& state, Kind kind, Motion motion) {
  const auto counter = std::make_shared<Counter>();
  const auto monitor = GeofenceMonitor::create(counter);
  for (const Geofence& fence : fences(kind)) monitor->addGeofence(fence);
  const auto track = fixes(1 << 16, motion);
  std::vector<double> nanoseconds;
  nanoseconds.reserve(1 << 20);
  std::size_t next = 0;
  for (auto _ : state) {
    const Location& fix = track[next++ % track.size()];
    const auto start = std::chrono::steady_clock::now();
    monitor->evaluate(fix);
    const auto stop = std::chrono::steady_clock::now();
    nanoseconds.push_back(std::chrono::duration<double, std::nano>(stop - start).count());
  }
  state.counters["events_per_fix"] = static_cast<double>(counter->events) / static_cast<double>(state.iterations());
  reportPercentiles(state, nanoseconds);
}

// Every fence's shape asked about every fix: what the index saves.
void testEveryFence(benchmark::State& state, Kind kind) {
  std::vector<std::unique_ptr<const FenceShape>> shapes;
  for (const Geofence& fence : fences(kind)) shapes.push_back(FenceShape::make(fence.shape));
  const auto track = fixes(1 << 10, Motion::jumping);
  std::size_t next = 0;
  long inside = 0;
  for (auto _ : state) {
    const Coordinate at = track[next++ % track.size()].coordinate;
    for (const auto& shape : shapes) inside += shape->contains(at);
  }
  benchmark::DoNotOptimize(inside);
}

void BM_Circles10k(benchmark::State& state) { evaluateEachFix(state, Kind::circles, Motion::driving); }
void BM_Polygons10k(benchmark::State& state) { evaluateEachFix(state, Kind::polygons, Motion::driving); }
void BM_Circles10k_Jumping(benchmark::State& state) { evaluateEachFix(state, Kind::circles, Motion::jumping); }
void BM_Polygons10k_Jumping(benchmark::State& state) { evaluateEachFix(state, Kind::polygons, Motion::jumping); }
void BM_Circles10k_EveryFence(benchmark::State& state) { testEveryFence(state, Kind::circles); }
void BM_Polygons10k_EveryFence(benchmark::State& state) { testEveryFence(state, Kind::polygons); }

BENCHMARK(BM_Circles10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Polygons10k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Circles10k_Jumping)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Polygons10k_Jumping)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Circles10k_EveryFence)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Polygons10k_EveryFence)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tovik::bench

BENCHMARK_MAIN();
