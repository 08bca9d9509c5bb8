#include "tovik/coord/orb_coor_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace tovik::test {
namespace {

using T = OrbCoorTransform;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(OrbCoorTransform, MatchesReferenceValues) {
  const struct {
    Coordinate (*transform)(Coordinate);
    Coordinate input;
    Coordinate expected;
  } cases[] = {
      {T::transformFromWGSToGCJ, {39.908722, 116.397499}, {39.910125500, 116.403742575}},
      {T::transformFromWGSToGCJ, {30.0, 72.004}, {29.996900344, 72.007885971}},  // western bound
      {T::transformFromGCJToWGS, {39.910125500, 116.403742575}, {39.908725506, 116.397497916}},
      {T::transformFromGCJToBaidu, {39.910125500, 116.403742575}, {39.916464747, 116.410115569}},
      {T::transformFromBaiduToGCJ, {39.916464747, 116.410115569}, {39.910125154, 116.403743016}},
      {T::transformFromWGSToBaidu, {39.908722, 116.397499}, {39.916464747, 116.410115569}},
      {T::transformFromBaiduToWGS, {39.916464747, 116.410115569}, {39.908725160, 116.397498357}},
      {T::transformFromGCJToBaidu, {-33.86, 151.2}, {-33.853542615, 151.206584677}},  // no region test
      // Far outside the region the search returns its first centre, ((v + 0.5) + (v − 0.5)) · 0.5.
      {T::transformFromGCJToWGS, {48.85, 2.35}, {48.85, 2.35}},
  };
  for (const auto& c : cases) {
    const Coordinate out = c.transform(c.input);
    EXPECT_NEAR(out.latitude, c.expected.latitude, 1e-9) << c.input.latitude << ", " << c.input.longitude;
    EXPECT_NEAR(out.longitude, c.expected.longitude, 1e-9) << c.input.latitude << ", " << c.input.longitude;
  }
  const Coordinate nearOrigin = T::transformFromGCJToWGS({0.1, 0.1});
  EXPECT_EQ(nearOrigin.latitude, 0.09999999999999998);
  EXPECT_EQ(nearOrigin.longitude, 0.09999999999999998);
}

TEST(OrbCoorTransform, BoundsCountAsInsideAndOutsidePointsComeBackUnchanged) {
  const struct {
    Coordinate wgs;
    bool inside;
  } cases[] = {
      {{48.85, 2.35}, false},     {{30.0, 72.0039}, false},  {{30.0, 72.004}, true},   {{30.0, 137.8347}, true},
      {{30.0, 137.8348}, false},  {{0.8293, 110.0}, true},   {{0.8292, 110.0}, false}, {{55.8271, 110.0}, true},
      {{55.8272, 110.0}, false},  {{-33.86, 151.2}, false},
  };
  for (const auto& c : cases) {
    const Coordinate gcj = T::transformFromWGSToGCJ(c.wgs);
    const bool unchanged = gcj.latitude == c.wgs.latitude && gcj.longitude == c.wgs.longitude;
    EXPECT_EQ(unchanged, !c.inside) << c.wgs.latitude << ", " << c.wgs.longitude;
  }
  // NaN counts as inside, and both components come out NaN.
  for (const Coordinate wgs : {Coordinate{kNaN, 116.0}, Coordinate{39.9, kNaN}}) {
    const Coordinate gcj = T::transformFromWGSToGCJ(wgs);
    EXPECT_TRUE(std::isnan(gcj.latitude) && std::isnan(gcj.longitude));
  }
}

TEST(OrbCoorTransform, RoundTripsStayWithinTheSearchTolerance) {
  // The search stops within 1e-5 degree (both components together) and a search that kept a
  // wrong quadrant is mended to the same tolerance; BD-09 there and back adds up to 3e-6.
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> latitude(0.8293 + 0.05, 55.8271 - 0.05);
  std::uniform_real_distribution<double> longitude(72.004 + 0.05, 137.8347 - 0.05);
  const auto error = [](Coordinate a, Coordinate b) {
    return std::fabs(a.latitude - b.latitude) + std::fabs(a.longitude - b.longitude);
  };
  for (int i = 0; i < 20000; ++i) {
    const Coordinate wgs{latitude(random), longitude(random)};
    ASSERT_LT(error(T::transformFromGCJToWGS(T::transformFromWGSToGCJ(wgs)), wgs), 1.2e-5)
        << wgs.latitude << ", " << wgs.longitude;
    ASSERT_LT(error(T::transformFromBaiduToWGS(T::transformFromWGSToBaidu(wgs)), wgs), 1.5e-5)
        << wgs.latitude << ", " << wgs.longitude;
  }
}

TEST(OrbCoorTransform, DistancesMatchReferenceValues) {
  const struct {
    double lat1, lat2, lng1, lng2, metres;
  } cases[] = {
      {39.9, 31.2, 116.4, 121.5, 1071286.452}, {0.0, 0.0, 0.0, 1.0, 111194.996},
      {0.0, 0.0, 0.0, 180.0, 20015099.362},    {kNaN, 0.0, 0.0, 0.0, kNaN},
      {0.0, 0.0, 0.0, kNaN, kNaN},
  };
  for (const auto& c : cases) {
    const double metres = T::distanceByPoint(c.lat1, c.lat2, c.lng1, c.lng2);
    EXPECT_TRUE(std::isnan(c.metres) ? std::isnan(metres) : std::fabs(metres - c.metres) <= 1e-3) << metres;
    // The two-point form takes (latitude, longitude) pairs.
    const double pair = T::distanceByPoint(Coordinate{c.lat1, c.lng1}, Coordinate{c.lat2, c.lng2});
    EXPECT_TRUE(pair == metres || (std::isnan(pair) && std::isnan(metres))) << pair;
  }
}

TEST(OrbCoorTransform, CoincidentPointsAreZeroAndAntipodesNeverNaN) {
  // Unclamped, rounding pushes the squared chord below 0 or above 4 for some of these, and asin
  // then gives NaN.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> latitude(-90.0, 90.0);
  std::uniform_real_distribution<double> longitude(-180.0, 180.0);
  for (int i = 0; i < 100000; ++i) {
    const double lat = latitude(random);
    const double lng = longitude(random);
    ASSERT_EQ(T::distanceByPoint(lat, lat, lng, lng), 0.0) << lat << ", " << lng;
    ASSERT_NEAR(T::distanceByPoint(lat, -lat, lng, lng + 180.0), 20015099.362, 1.0) << lat << ", " << lng;
  }
}

}  // namespace
}  // namespace tovik::test
