// Datum transforms and distance: OrbCoorTransform next to the plain formulas
// (straightforward_transform.cpp) in the same run, and the batch forms on each vector path.
// Every benchmark reports `per_point`, the time per converted point (or per distance).

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "straightforward_transform.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik::bench {
namespace {

constexpr std::size_t kPoints = 4096;

/// WGS-84 points spread over the GCJ-02 region, the same in every run.
const std::vector<Coordinate>& wgsPoints() {
  static const std::vector<Coordinate> points = [] {
    std::mt19937_64 random(2024);
    std::uniform_real_distribution<double> latitude(0.8293, 55.8271);
    std::uniform_real_distribution<double> longitude(72.004, 137.8347);
    std::vector<Coordinate> out(kPoints);
    for (Coordinate& c : out) {
      c = {latitude(random), longitude(random)};
    }
    return out;
  }();
  return points;
}

std::vector<Coordinate> converted(const std::vector<Coordinate>& in, Coordinate (*transform)(Coordinate)) {
  std::vector<Coordinate> out;
  out.reserve(in.size());
  for (const Coordinate c : in) {
    out.push_back(transform(c));
  }
  return out;
}

const std::vector<Coordinate>& gcjPoints() {
  static const std::vector<Coordinate> points = converted(wgsPoints(), OrbCoorTransform::transformFromWGSToGCJ);
  return points;
}

const std::vector<Coordinate>& baiduPoints() {
  static const std::vector<Coordinate> points = converted(gcjPoints(), OrbCoorTransform::transformFromGCJToBaidu);
  return points;
}

void reportPerPoint(benchmark::State& state, std::size_t points) {
  state.counters["per_point"] = benchmark::Counter(
      static_cast<double>(points), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class Transform>
void eachPoint(benchmark::State& state, const std::vector<Coordinate>& points, Transform transform) {
  for (auto _ : state) {
    for (const Coordinate c : points) {
      benchmark::DoNotOptimize(transform(c));
    }
  }
  reportPerPoint(state, points.size());
}

void BM_WgsToGcj(benchmark::State& state) {
  eachPoint(state, wgsPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromWGSToGCJ(c); });
}
void BM_WgsToGcjStraightforward(benchmark::State& state) {
  eachPoint(state, wgsPoints(), StraightforwardTransform::wgsToGcj);
}
void BM_GcjToWgs(benchmark::State& state) {
  eachPoint(state, gcjPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromGCJToWGS(c); });
}
void BM_GcjToWgsStraightforward(benchmark::State& state) {
  eachPoint(state, gcjPoints(), StraightforwardTransform::gcjToWgs);
}
void BM_GcjToBaidu(benchmark::State& state) {
  eachPoint(state, gcjPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromGCJToBaidu(c); });
}
void BM_GcjToBaiduStraightforward(benchmark::State& state) {
  eachPoint(state, gcjPoints(), StraightforwardTransform::gcjToBaidu);
}
void BM_BaiduToGcj(benchmark::State& state) {
  eachPoint(state, baiduPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromBaiduToGCJ(c); });
}
void BM_WgsToBaidu(benchmark::State& state) {
  eachPoint(state, wgsPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromWGSToBaidu(c); });
}
void BM_BaiduToWgs(benchmark::State& state) {
  eachPoint(state, baiduPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromBaiduToWGS(c); });
}

/// WGS-84 points inside the precise China region (every one of them is converted in both regions).
const std::vector<Coordinate>& chinaPoints() {
  static const std::vector<Coordinate> points = [] {
    std::mt19937_64 random(2025);
    std::uniform_real_distribution<double> latitude(0.8293, 55.8271);
    std::uniform_real_distribution<double> longitude(72.004, 137.8347);
    std::vector<Coordinate> out;
    while (out.size() < kPoints) {
      const Coordinate c{latitude(random), longitude(random)};
      if (OrbCoorTransform::contains(c, Region::precise)) {
        out.push_back(c);
      }
    }
    return out;
  }();
  return points;
}

void BM_WgsToGcjPrecise(benchmark::State& state) {
  eachPoint(state, wgsPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromWGSToGCJ(c, Region::precise); });
}
void BM_WgsToGcjInChina(benchmark::State& state) {
  eachPoint(state, chinaPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromWGSToGCJ(c); });
}
void BM_WgsToGcjPreciseInChina(benchmark::State& state) {
  eachPoint(state, chinaPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromWGSToGCJ(c, Region::precise); });
}
void BM_GcjToWgsPreciseInChina(benchmark::State& state) {
  static const std::vector<Coordinate> gcj = converted(chinaPoints(), OrbCoorTransform::transformFromWGSToGCJ);
  eachPoint(state, gcj, [](Coordinate c) { return OrbCoorTransform::transformFromGCJToWGS(c, Region::precise); });
}
void BM_GcjToWgsInChina(benchmark::State& state) {
  static const std::vector<Coordinate> gcj = converted(chinaPoints(), OrbCoorTransform::transformFromWGSToGCJ);
  eachPoint(state, gcj, [](Coordinate c) { return OrbCoorTransform::transformFromGCJToWGS(c); });
}

// The region tests alone, over random points in the rectangle.
void BM_ContainsRectangle(benchmark::State& state) {
  eachPoint(state, wgsPoints(), [](Coordinate c) { return OrbCoorTransform::contains(c); });
}
void BM_ContainsPrecise(benchmark::State& state) {
  eachPoint(state, wgsPoints(), [](Coordinate c) { return OrbCoorTransform::contains(c, Region::precise); });
}
void BM_ContainsPolygonStraightforward(benchmark::State& state) {
  const std::vector<Coordinate> points(wgsPoints().begin(), wgsPoints().begin() + 256);
  eachPoint(state, points, StraightforwardTransform::insideChinaLand);
}

BENCHMARK(BM_WgsToGcjPrecise);
BENCHMARK(BM_WgsToGcjInChina);
BENCHMARK(BM_WgsToGcjPreciseInChina);
BENCHMARK(BM_GcjToWgsInChina);
BENCHMARK(BM_GcjToWgsPreciseInChina);
BENCHMARK(BM_ContainsRectangle);
BENCHMARK(BM_ContainsPrecise);
BENCHMARK(BM_ContainsPolygonStraightforward);

template <class Distance>
void distances(benchmark::State& state, Distance distance) {
  const std::vector<Coordinate>& points = wgsPoints();
  for (auto _ : state) {
    for (std::size_t i = 1; i < points.size(); ++i) {
      benchmark::DoNotOptimize(distance(points[i - 1].latitude, points[i].latitude, points[i - 1].longitude,
                                        points[i].longitude));
    }
  }
  reportPerPoint(state, points.size() - 1);
}

void BM_Distance(benchmark::State& state) {
  distances(state, [](double lat1, double lat2, double lng1, double lng2) {
    return OrbCoorTransform::distanceByPoint(lat1, lat2, lng1, lng2);
  });
}
void BM_DistanceStraightforward(benchmark::State& state) {
  distances(state, StraightforwardTransform::distance);
}

void BM_GcjToWgsPrecise(benchmark::State& state) {
  eachPoint(state, gcjPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromGCJToWGSPrecise(c); });
}
void BM_BaiduToWgsPrecise(benchmark::State& state) {
  eachPoint(state, baiduPoints(), [](Coordinate c) { return OrbCoorTransform::transformFromBaiduToWGSPrecise(c); });
}
void BM_GeodesicDistance(benchmark::State& state) {
  distances(state, [](double lat1, double lat2, double lng1, double lng2) {
    return OrbCoorTransform::geodesicDistance({lat1, lng1}, {lat2, lng2});
  });
}

BENCHMARK(BM_WgsToGcj);
BENCHMARK(BM_WgsToGcjStraightforward);
BENCHMARK(BM_GcjToWgsPrecise);
BENCHMARK(BM_BaiduToWgsPrecise);
BENCHMARK(BM_GeodesicDistance);
BENCHMARK(BM_GcjToWgs);
BENCHMARK(BM_GcjToWgsStraightforward);
BENCHMARK(BM_GcjToBaidu);
BENCHMARK(BM_GcjToBaiduStraightforward);
BENCHMARK(BM_BaiduToGcj);
BENCHMARK(BM_WgsToBaidu);
BENCHMARK(BM_BaiduToWgs);
BENCHMARK(BM_Distance);
BENCHMARK(BM_DistanceStraightforward);

using BatchTransform = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, BatchPath);

/// One batch over all points per iteration on the path given as the benchmark's argument.
void batch(benchmark::State& state, BatchTransform transform, const std::vector<Coordinate>& in) {
  const auto path = static_cast<BatchPath>(state.range(0));
  if (OrbCoorTransform::effectiveBatchPath(path) != path) {
    state.SkipWithError("this CPU or build lacks the vector unit");
    return;
  }
  std::vector<Coordinate> out(in.size());
  for (auto _ : state) {
    transform(in, out, path);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  reportPerPoint(state, in.size());
}

void BM_BatchWgsToGcj(benchmark::State& state) {
  batch(state, OrbCoorTransform::transformFromWGSToGCJ, wgsPoints());
}
void BM_BatchGcjToBaidu(benchmark::State& state) {
  batch(state, OrbCoorTransform::transformFromGCJToBaidu, gcjPoints());
}
void BM_BatchBaiduToGcj(benchmark::State& state) {
  batch(state, OrbCoorTransform::transformFromBaiduToGCJ, baiduPoints());
}
void BM_BatchWgsToBaidu(benchmark::State& state) {
  batch(state, OrbCoorTransform::transformFromWGSToBaidu, wgsPoints());
}

void BM_BatchWgsToGcjInChina(benchmark::State& state) {
  batch(state, OrbCoorTransform::transformFromWGSToGCJ, chinaPoints());
}
void BM_BatchWgsToGcjPreciseInChina(benchmark::State& state) {
  batch(state, [](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
    return OrbCoorTransform::transformFromWGSToGCJ(in, out, Region::precise, path);
  }, chinaPoints());
}

void BM_BatchGcjToWgsPrecise(benchmark::State& state) {
  batch(state, [](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
    return OrbCoorTransform::transformFromGCJToWGSPrecise(in, out, Region::rectangle, path);
  }, gcjPoints());
}
void BM_BatchBaiduToWgsPrecise(benchmark::State& state) {
  batch(state, [](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
    return OrbCoorTransform::transformFromBaiduToWGSPrecise(in, out, Region::rectangle, path);
  }, baiduPoints());
}

void batchPaths(benchmark::internal::Benchmark* b) {
  b->ArgName("path");
  for (const BatchPath path : {BatchPath::scalar, BatchPath::sse2, BatchPath::avx2, BatchPath::avx512}) {
    b->Arg(static_cast<int>(path));
  }
}

BENCHMARK(BM_BatchWgsToGcj)->Apply(batchPaths);
BENCHMARK(BM_BatchGcjToBaidu)->Apply(batchPaths);
BENCHMARK(BM_BatchBaiduToGcj)->Apply(batchPaths);
BENCHMARK(BM_BatchWgsToBaidu)->Apply(batchPaths);
BENCHMARK(BM_BatchGcjToWgsPrecise)->Apply(batchPaths);
BENCHMARK(BM_BatchBaiduToWgsPrecise)->Apply(batchPaths);
BENCHMARK(BM_BatchWgsToGcjInChina)->Apply(batchPaths);
BENCHMARK(BM_BatchWgsToGcjPreciseInChina)->Apply(batchPaths);

}  // namespace
}  // namespace tovik::bench

BENCHMARK_MAIN();
