#include "tovik/coord/gcj_inverse_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "support/plain_gcj_inverse.h"
#include "tovik/coord/gcj_image_estimate.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik::test {
namespace {

Coordinate forward(Coordinate wgs, Region region = Region::rectangle) {
  return OrbCoorTransform::transformFromWGSToGCJ(wgs, region);
}

/// Equal to the bit, or NaN in the same components.
bool same(Coordinate a, Coordinate b) {
  const auto one = [](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y) || (std::isnan(x) && std::isnan(y));
  };
  return one(a.latitude, b.latitude) && one(a.longitude, b.longitude);
}

/// Targets inside the region and a few degrees around it, its exact corners, points half a
/// degree outside and non-finite ones.
std::vector<Coordinate> targets(std::size_t count, std::uint64_t seed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Coordinate> points = {{0.8293, 72.004},   {0.8293, 137.8347}, {55.8271, 72.004}, {55.8271, 137.8347},
                                    {0.8293 - 0.5, 100.0}, {30.0, 72.004 - 0.5},     {nan, 116.0},      {39.9, nan},
                                    {inf, 116.0},       {39.9, -inf},       {1e308, 116.0}};
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> latitude(-2.5, 58.5);
  std::uniform_real_distribution<double> longitude(69.0, 141.0);
  while (points.size() < count) {
    points.push_back({latitude(random), longitude(random)});
  }
  return points;
}

/// Targets within a few dozen kilometres of China's borders and coasts, where the precise
/// region's edge runs through the search boxes.
std::vector<Coordinate> borderTargets(std::size_t count, std::uint64_t seed) {
  const Coordinate places[] = {{22.52, 114.1}, {22.2, 113.55}, {40.1, 124.4},  {53.3, 122.3},
                               {39.5, 74.5},   {22.5, 103.97}, {24.45, 118.2}, {26.15, 119.9}};
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> offset(-0.4, 0.4);
  std::vector<Coordinate> points;
  while (points.size() < count) {
    const Coordinate& place = places[points.size() % std::size(places)];
    points.push_back({place.latitude + offset(random), place.longitude + offset(random)});
  }
  return points;
}

TEST(GcjInverseSearch, GivesThePlainSearchResultToTheBit) {
  // A wide margin sends most steps, and all late ones, to the exact forward transforms. The
  // precise region's search follows its own forward transform.
  const struct {
    double margin;
    std::size_t count;
    Region region;
  } runs[] = {{GcjInverseSearch::defaultMargin, 100000, Region::rectangle},
              {1e-6, 3000, Region::rectangle},
              {1e-3, 3000, Region::rectangle},
              {GcjInverseSearch::defaultMargin, 20000, Region::precise},
              {1e-3, 2000, Region::precise}};
  for (const auto& run : runs) {
    const GcjInverseSearch search(run.margin, run.region);
    std::size_t mismatches = 0;
    std::size_t mended = 0;
    const std::vector<Coordinate> points =
        run.region == Region::rectangle ? targets(run.count, 42) : borderTargets(run.count, 42);
    for (const Coordinate target : points) {
      const auto plain = plainGcjInverse(target, [&](Coordinate wgs) { return forward(wgs, run.region); });
      if (!same(plain.point, search.run(target)) && ++mismatches <= 5) {
        ADD_FAILURE() << "margin " << run.margin << ", region " << static_cast<int>(run.region) << ", target " << target.latitude << ", " << target.longitude;
      }
      mended += same(plain.point, plain.bisection) ? 0 : 1;
    }
    EXPECT_EQ(mismatches, 0u) << "margin " << run.margin;
    if (run.count == 100000) {
      EXPECT_GT(mended, 100u) << "the sample should take the mend often enough to compare it";
    }
  }
}

TEST(GcjImageEstimate, StaysWithinItsStatedErrorOverAWholeSearch) {
  // The search's exactness rests on this bound. A search turns the first centre's angles up to
  // 29 times, by halving steps in any direction; look well past the region's edges too.
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> latitude(0.0, 57.0);
  std::uniform_real_distribution<double> longitude(71.0, 139.0);
  const auto error = [](const GcjImageEstimate::Axes& axes) {
    const Coordinate exact = forward({axes.row.latitude, axes.column.longitude});
    const Coordinate estimate = GcjImageEstimate::image(axes.column, axes.row);
    return std::max(std::fabs(exact.latitude - estimate.latitude), std::fabs(exact.longitude - estimate.longitude));
  };
  double worst = 0.0;
  for (int path = 0; path < 40000; ++path) {
    GcjImageEstimate::Axes axes = GcjImageEstimate::axes(longitude(random), latitude(random));
    worst = std::max(worst, error(axes));
    double half = 0.25;
    for (int step = 0; step < 29; ++step, half *= 0.5) {
      const double lon = axes.column.longitude + (random() % 2 == 0 ? half : -half);
      const double lat = axes.row.latitude + (random() % 2 == 0 ? half : -half);
      axes = GcjImageEstimate::axesNear(lon, lat, axes);
      worst = std::max(worst, error(axes));
    }
  }
  EXPECT_LE(worst, GcjImageEstimate::maxError / 10.0);
  RecordProperty("worst_error_degrees", testing::PrintToString(worst));
}

}  // namespace
}  // namespace tovik::test
