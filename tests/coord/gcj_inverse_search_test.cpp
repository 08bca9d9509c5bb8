#include "tovik/coord/gcj_inverse_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tovik/coord/gcj_image_estimate.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik {
namespace {

/// The bisection as written, four forward transforms per step: the reference the fast search
/// must reproduce to the bit.
Coordinate plainSearch(Coordinate target) {
  const double lat = target.latitude;
  const double lon = target.longitude;
  const auto forward = [](double lng, double la) {
    return OrbCoorTransform::transformFromWGSToGCJ({la, lng});
  };
  double minLon = lon - 0.5;
  double minLat = lat - 0.5;
  double maxLon = lon + 0.5;
  double maxLat = lat + 0.5;
  int n = 31;
  for (;;) {
    const Coordinate fll = forward(minLon, minLat);
    const Coordinate flr = forward(maxLon, minLat);
    const Coordinate ful = forward(minLon, maxLat);
    const double ctrLon = (maxLon + minLon) * 0.5;
    const double ctrLat = (maxLat + minLat) * 0.5;
    const Coordinate d = forward(ctrLon, ctrLat);
    if (std::fabs(d.latitude - lat) + std::fabs(d.longitude - lon) <= 0.00001) {
      return {ctrLat, ctrLon};
    }
    const auto holds = [&](Coordinate p) {
      return std::min(d.latitude, p.latitude) <= lat && lat <= std::max(d.latitude, p.latitude) &&
             std::min(d.longitude, p.longitude) <= lon && lon <= std::max(d.longitude, p.longitude);
    };
    if (holds(fll)) {
      maxLon = ctrLon;
      maxLat = ctrLat;
    } else if (holds(flr)) {
      minLon = ctrLon;
      maxLat = ctrLat;
    } else if (holds(ful)) {
      minLat = ctrLat;
      maxLon = ctrLon;
    } else {
      minLon = ctrLon;
      minLat = ctrLat;
    }
    n = n - 1;
    if (n <= 1) {
      return {(maxLat + minLat) * 0.5, (maxLon + minLon) * 0.5};
    }
  }
}

bool sameBits(Coordinate a, Coordinate b) {
  return std::bit_cast<std::uint64_t>(a.latitude) == std::bit_cast<std::uint64_t>(b.latitude) &&
         std::bit_cast<std::uint64_t>(a.longitude) == std::bit_cast<std::uint64_t>(b.longitude);
}

/// Targets inside the region and up to a few degrees around it, plus its exact bounds.
std::vector<Coordinate> targets(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> latitude(-2.5, 58.5);
  std::uniform_real_distribution<double> longitude(69.0, 141.0);
  std::vector<Coordinate> points;
  points.reserve(count + 8);
  for (const double lat : {0.8293, 55.8271}) {
    for (const double lon : {72.004, 137.8347}) {
      points.push_back({lat, lon});
    }
  }
  points.push_back({0.8293 - 0.5, 100.0});
  points.push_back({30.0, 72.004 - 0.5});
  while (points.size() < count) {
    points.push_back({latitude(random), longitude(random)});
  }
  return points;
}

TEST(GcjInverseSearch, GivesThePlainSearchResultToTheBit) {
  const GcjInverseSearch search;
  std::size_t mismatches = 0;
  for (const Coordinate target : targets(100000, 42)) {
    const Coordinate expected = plainSearch(target);
    const Coordinate actual = search.run(target);
    if (!sameBits(expected, actual) && ++mismatches <= 5) {
      ADD_FAILURE() << "target " << target.latitude << ", " << target.longitude;
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(GcjInverseSearch, StepsDecidedExactlyAgreeToo) {
  // A wide margin sends most steps, and all late ones, to the exact forward transforms.
  for (const double margin : {1e-6, 1e-3}) {
    const GcjInverseSearch search(margin);
    for (const Coordinate target : targets(3000, 7)) {
      ASSERT_TRUE(sameBits(plainSearch(target), search.run(target)))
          << "margin " << margin << ", target " << target.latitude << ", " << target.longitude;
    }
  }
}

TEST(GcjInverseSearch, NonFiniteTargetsFollowThePlainSearch) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const GcjInverseSearch search;
  for (const Coordinate target : {Coordinate{nan, 116.0}, Coordinate{39.9, nan}, Coordinate{inf, 116.0},
                                  Coordinate{39.9, -inf}, Coordinate{1e308, 116.0}}) {
    const Coordinate expected = plainSearch(target);
    const Coordinate actual = search.run(target);
    EXPECT_EQ(std::isnan(expected.latitude), std::isnan(actual.latitude));
    EXPECT_EQ(std::isnan(expected.longitude), std::isnan(actual.longitude));
    if (!std::isnan(expected.latitude) && !std::isnan(expected.longitude)) {
      EXPECT_TRUE(sameBits(expected, actual)) << target.latitude << ", " << target.longitude;
    }
  }
}

double estimateError(const GcjImageEstimate::Axes& axes) {
  const Coordinate exact = OrbCoorTransform::transformFromWGSToGCJ({axes.row.latitude, axes.column.longitude});
  const Coordinate estimate = GcjImageEstimate::image(axes.column, axes.row);
  return std::max(std::fabs(exact.latitude - estimate.latitude), std::fabs(exact.longitude - estimate.longitude));
}

TEST(GcjImageEstimate, TurnedAxesStayWithinTheStatedErrorOverAWholeSearch) {
  // A search turns the first centre's angles up to 29 times, by halving steps in any direction.
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> latitude(0.5, 56.0);
  std::uniform_real_distribution<double> longitude(71.5, 138.5);
  double worst = 0.0;
  for (int path = 0; path < 20000; ++path) {
    GcjImageEstimate::Axes axes = GcjImageEstimate::axes(longitude(random), latitude(random));
    double half = 0.25;
    for (int step = 0; step < 29; ++step, half *= 0.5) {
      const double lon = axes.column.longitude + (random() % 2 == 0 ? half : -half);
      const double lat = axes.row.latitude + (random() % 2 == 0 ? half : -half);
      axes = GcjImageEstimate::axesNear(lon, lat, axes);
      worst = std::max(worst, estimateError(axes));
    }
  }
  EXPECT_LE(worst, GcjImageEstimate::maxError / 10.0);
  RecordProperty("worst_error_degrees", testing::PrintToString(worst));
}

TEST(GcjImageEstimate, StaysWithinItsStatedErrorOfTheTransform) {
  // The search's exactness rests on this bound; look well past the region's edges too.
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> latitude(0.0, 57.0);
  std::uniform_real_distribution<double> longitude(71.0, 139.0);
  double worst = 0.0;
  for (int i = 0; i < 500000; ++i) {
    const double lat = latitude(random);
    const double lon = longitude(random);
    worst = std::max(worst, estimateError(GcjImageEstimate::axes(lon, lat)));
  }
  EXPECT_LE(worst, GcjImageEstimate::maxError / 10.0);
  RecordProperty("worst_error_degrees", testing::PrintToString(worst));
}

}  // namespace
}  // namespace tovik
