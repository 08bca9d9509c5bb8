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

double miss(Coordinate wgs, Coordinate target) {
  const Coordinate image = OrbCoorTransform::transformFromWGSToGCJ(wgs);
  return std::fabs(image.latitude - target.latitude) + std::fabs(image.longitude - target.longitude);
}

struct Bisection {
  Coordinate point;
  bool ranOut;  // ended after its last step, not on the tolerance
};

/// The bisection as written, four forward transforms per step.
Bisection plainBisection(Coordinate target) {
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
      return {{ctrLat, ctrLon}, false};
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
      return {{(maxLat + minLat) * 0.5, (maxLon + minLon) * 0.5}, true};
    }
  }
}

/// The mend of a bisection that ran out of steps, written plainly: up to 8 steps
/// w ← w − (f(w) − target) from the target, while they get closer; the result only if it is
/// closer than the bisection's point.
Coordinate plainMend(Coordinate found, Coordinate target) {
  const double missed = miss(found, target);
  if (!(missed > 0.00001)) {
    return found;
  }
  Coordinate w = target;
  double off = miss(w, target);
  for (int i = 0; i < 8 && off > 0.00001; ++i) {
    const Coordinate image = OrbCoorTransform::transformFromWGSToGCJ(w);
    const Coordinate next{w.latitude - (image.latitude - target.latitude),
                          w.longitude - (image.longitude - target.longitude)};
    if (!(miss(next, target) < off)) {
      break;
    }
    w = next;
    off = miss(w, target);
  }
  return off < missed ? w : found;
}

/// The reference the fast search must reproduce to the bit.
Coordinate plainSearch(Coordinate target) {
  const Bisection bisection = plainBisection(target);
  return bisection.ranOut ? plainMend(bisection.point, target) : bisection.point;
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
  std::size_t mended = 0;
  for (const Coordinate target : targets(100000, 42)) {
    const Bisection bisection = plainBisection(target);
    const Coordinate expected = bisection.ranOut ? plainMend(bisection.point, target) : bisection.point;
    const Coordinate actual = search.run(target);
    if (!sameBits(expected, actual) && ++mismatches <= 5) {
      ADD_FAILURE() << "target " << target.latitude << ", " << target.longitude;
    }
    mended += sameBits(expected, bisection.point) ? 0 : 1;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(mended, 100u) << "the sample should take the mend often enough to compare it";
  RecordProperty("mended", testing::PrintToString(mended));
}

TEST(GcjInverseSearch, MendsEverySearchThatKeptAWrongQuadrant) {
  // WGS-84 points well inside the region (their images have an answer there): every search
  // ends within the tolerance, and where the bisection met it on its own its point is kept.
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> latitude(0.8293 + 0.05, 55.8271 - 0.05);
  std::uniform_real_distribution<double> longitude(72.004 + 0.05, 137.8347 - 0.05);
  const GcjInverseSearch search;
  int wrongQuadrants = 0;
  for (int i = 0; i < 50000; ++i) {
    const Coordinate target = OrbCoorTransform::transformFromWGSToGCJ({latitude(random), longitude(random)});
    const Bisection bisection = plainBisection(target);
    const Coordinate found = search.run(target);
    ASSERT_LE(miss(found, target), 0.00001) << target.latitude << ", " << target.longitude;
    if (miss(bisection.point, target) <= 0.00001) {
      ASSERT_TRUE(sameBits(found, bisection.point)) << target.latitude << ", " << target.longitude;
    } else {
      ++wrongQuadrants;
    }
  }
  EXPECT_GT(wrongQuadrants, 50);
  RecordProperty("wrong_quadrants", testing::PrintToString(wrongQuadrants));
}

TEST(GcjInverseSearch, OneWrongQuadrantEndsOnTheAnswer) {
  // The bisection keeps a wrong quadrant for this point and ends 0.014 degree away.
  const Coordinate wgs{36.6, 111.84};
  const Coordinate target = OrbCoorTransform::transformFromWGSToGCJ(wgs);
  const Bisection bisection = plainBisection(target);
  ASSERT_TRUE(bisection.ranOut);
  EXPECT_GT(std::fabs(bisection.point.latitude - wgs.latitude), 0.005);
  EXPECT_GT(std::fabs(bisection.point.longitude - wgs.longitude), 0.005);
  const Coordinate found = GcjInverseSearch().run(target);
  EXPECT_NEAR(found.latitude, wgs.latitude, 1.2e-5);
  EXPECT_NEAR(found.longitude, wgs.longitude, 1.2e-5);
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
