#include "tovik/coord/orb_coor_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace tovik {
namespace {

constexpr double kDegreeTolerance = 1e-9;
constexpr double kMetreTolerance = 1e-3;

using Transform = Coordinate (*)(Coordinate);

struct ReferenceCase {
  const char* name;
  Transform transform;
  Coordinate input;
  Coordinate expected;
};

class ReferenceValues : public testing::TestWithParam<ReferenceCase> {};

TEST_P(ReferenceValues, MatchPublishedValues) {
  const ReferenceCase& c = GetParam();
  const Coordinate out = c.transform(c.input);
  EXPECT_NEAR(out.latitude, c.expected.latitude, kDegreeTolerance);
  EXPECT_NEAR(out.longitude, c.expected.longitude, kDegreeTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Datums, ReferenceValues,
    testing::Values(
        ReferenceCase{"WgsToGcjBeijing", OrbCoorTransform::transformFromWGSToGCJ,
                      {39.908722, 116.397499}, {39.910125500, 116.403742575}},
        ReferenceCase{"WgsToGcjWesternBound", OrbCoorTransform::transformFromWGSToGCJ,
                      {30.0, 72.004}, {29.996900344, 72.007885971}},
        ReferenceCase{"GcjToWgsBeijing", OrbCoorTransform::transformFromGCJToWGS,
                      {39.910125500, 116.403742575}, {39.908725506, 116.397497916}},
        ReferenceCase{"GcjToBaiduBeijing", OrbCoorTransform::transformFromGCJToBaidu,
                      {39.910125500, 116.403742575}, {39.916464747, 116.410115569}},
        ReferenceCase{"BaiduToGcjBeijing", OrbCoorTransform::transformFromBaiduToGCJ,
                      {39.916464747, 116.410115569}, {39.910125154, 116.403743016}},
        ReferenceCase{"WgsToBaiduBeijing", OrbCoorTransform::transformFromWGSToBaidu,
                      {39.908722, 116.397499}, {39.916464747, 116.410115569}},
        ReferenceCase{"BaiduToWgsBeijing", OrbCoorTransform::transformFromBaiduToWGS,
                      {39.916464747, 116.410115569}, {39.908725160, 116.397498357}},
        ReferenceCase{"GcjToBaiduHasNoRegionTest", OrbCoorTransform::transformFromGCJToBaidu,
                      {-33.86, 151.2}, {-33.853542615, 151.206584677}}),
    [](const testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

struct RegionCase {
  Coordinate wgs;
  bool inside;
};

TEST(OrbCoorTransformRegion, BoundsCountAsInsideAndOutsidePointsComeBackUnchanged) {
  const RegionCase cases[] = {
      {{48.85, 2.35}, false},      {{30.0, 72.0039}, false},   {{30.0, 72.004}, true},
      {{30.0, 137.8347}, true},    {{30.0, 137.8348}, false},  {{0.8293, 110.0}, true},
      {{0.8292, 110.0}, false},    {{55.8271, 110.0}, true},   {{55.8272, 110.0}, false},
      {{-33.86, 151.2}, false},
  };
  for (const RegionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.wgs.latitude << ", " << c.wgs.longitude);
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(c.wgs);
    const bool unchanged = gcj.latitude == c.wgs.latitude && gcj.longitude == c.wgs.longitude;
    EXPECT_EQ(unchanged, !c.inside);
  }
}

TEST(OrbCoorTransformRegion, NanCountsAsInsideAndComesOutNan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const Coordinate wgs : {Coordinate{nan, 116.0}, Coordinate{39.9, nan}}) {
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(wgs);
    EXPECT_TRUE(std::isnan(gcj.latitude));
    EXPECT_TRUE(std::isnan(gcj.longitude));
  }
}

TEST(OrbCoorTransformInverse, FarOutsideTheRegionReturnsTheFirstCentre) {
  // ((v + 0.5) + (v − 0.5)) · 0.5: the input, up to the rounding of the box.
  const Coordinate paris = OrbCoorTransform::transformFromGCJToWGS({48.85, 2.35});
  EXPECT_EQ(paris.latitude, 48.85);
  EXPECT_EQ(paris.longitude, 2.35);
  const Coordinate nearOrigin = OrbCoorTransform::transformFromGCJToWGS({0.1, 0.1});
  EXPECT_EQ(nearOrigin.latitude, 0.09999999999999998);
  EXPECT_EQ(nearOrigin.longitude, 0.09999999999999998);
}

TEST(OrbCoorTransformInverse, RoundTripsStayWithinTheSearchTolerance) {
  // The search stops once the forward image of its centre is within 1e-5 degree (both components
  // together), and a search that kept a wrong quadrant is mended to the same tolerance, so the
  // way back lands within about that distance everywhere away from the region's edges. Through
  // BD-09 the conversion there and back adds up to 3e-6 degree.
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> latitude(0.8293 + 0.05, 55.8271 - 0.05);
  std::uniform_real_distribution<double> longitude(72.004 + 0.05, 137.8347 - 0.05);
  const auto error = [](Coordinate a, Coordinate b) {
    return std::fabs(a.latitude - b.latitude) + std::fabs(a.longitude - b.longitude);
  };
  for (int i = 0; i < 20000; ++i) {
    const Coordinate wgs{latitude(random), longitude(random)};
    const Coordinate viaGcj = OrbCoorTransform::transformFromGCJToWGS(OrbCoorTransform::transformFromWGSToGCJ(wgs));
    const Coordinate viaBaidu =
        OrbCoorTransform::transformFromBaiduToWGS(OrbCoorTransform::transformFromWGSToBaidu(wgs));
    ASSERT_LT(error(viaGcj, wgs), 1.2e-5) << wgs.latitude << ", " << wgs.longitude;
    ASSERT_LT(error(viaBaidu, wgs), 1.5e-5) << wgs.latitude << ", " << wgs.longitude;
  }
}

struct DistanceCase {
  double lat1, lat2, lng1, lng2;
  double metres;
};

TEST(OrbCoorTransformDistance, MatchesPublishedValues) {
  const DistanceCase cases[] = {
      {39.9, 31.2, 116.4, 121.5, 1071286.452},
      {0.0, 0.0, 0.0, 1.0, 111194.996},
      {0.0, 0.0, 0.0, 180.0, 20015099.362},
  };
  for (const DistanceCase& c : cases) {
    EXPECT_NEAR(OrbCoorTransform::distanceByPoint(c.lat1, c.lat2, c.lng1, c.lng2), c.metres, kMetreTolerance);
    // The two-point form takes (latitude, longitude) pairs.
    EXPECT_EQ(OrbCoorTransform::distanceByPoint(Coordinate{c.lat1, c.lng1}, Coordinate{c.lat2, c.lng2}),
              OrbCoorTransform::distanceByPoint(c.lat1, c.lat2, c.lng1, c.lng2));
  }
}

TEST(OrbCoorTransformDistance, CoincidentPointsAreZeroAndAntipodesAreHalfTheCircumference) {
  // Unclamped, rounding pushes the squared chord below 0 or above 4 for some of these, and asin
  // then gives NaN.
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> latitude(-90.0, 90.0);
  std::uniform_real_distribution<double> longitude(-180.0, 180.0);
  const double halfCircumference = 20015099.362;
  for (int i = 0; i < 100000; ++i) {
    const double lat = latitude(random);
    const double lng = longitude(random);
    ASSERT_EQ(OrbCoorTransform::distanceByPoint(lat, lat, lng, lng), 0.0) << lat << ", " << lng;
    const double antipodal = OrbCoorTransform::distanceByPoint(lat, -lat, lng, lng + 180.0);
    ASSERT_FALSE(std::isnan(antipodal)) << lat << ", " << lng;
    ASSERT_NEAR(antipodal, halfCircumference, 1.0) << lat << ", " << lng;
  }
}

TEST(OrbCoorTransformDistance, NanInputGivesNan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(OrbCoorTransform::distanceByPoint(nan, 0.0, 0.0, 0.0)));
  EXPECT_TRUE(std::isnan(OrbCoorTransform::distanceByPoint(0.0, 0.0, 0.0, nan)));
}

}  // namespace
}  // namespace tovik
