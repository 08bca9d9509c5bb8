#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "tovik/coord/orb_coor_transform.h"

namespace tovik::test {
namespace {

using T = OrbCoorTransform;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool sameBits(Coordinate a, Coordinate b) {
  return std::bit_cast<std::uint64_t>(a.latitude) == std::bit_cast<std::uint64_t>(b.latitude) &&
         std::bit_cast<std::uint64_t>(a.longitude) == std::bit_cast<std::uint64_t>(b.longitude);
}

// Places on both sides of each border, a few kilometres from it (the boundary data's accuracy),
// and the places the rectangle gets wrong. Every one of them lies in the rectangle.
TEST(ChinaRegion, ReferencePlacesFallOnTheirSide) {
  const struct {
    const char* place;
    Coordinate wgs;
    bool inChina;
  } cases[] = {
      {"Shenzhen, Futian", {22.5431, 114.0579}, true},
      {"Hong Kong, Sheung Shui", {22.501, 114.128}, false},
      {"Hong Kong, Tsim Sha Tsui", {22.2976, 114.1722}, false},
      {"Zhuhai, Xiangzhou", {22.2708, 113.5767}, true},
      {"Macao, Senado Square", {22.1935, 113.5399}, false},
      {"Macao, Taipa", {22.156, 113.556}, false},
      {"Dandong", {40.14, 124.38}, true},
      {"Sinuiju", {40.09, 124.44}, false},
      {"Mohe, Xilinji", {52.9721, 122.5385}, true},
      {"Mohe, Beiji village", {53.4667, 122.35}, true},
      {"Russia, across the Amur from Beiji", {53.56, 122.35}, false},
      {"Kashgar", {39.4704, 75.9898}, true},
      {"Tashkurgan", {37.77, 75.23}, true},
      {"Kyrgyzstan, Irkeshtam", {39.70, 73.85}, false},
      {"Tajikistan, Murghab", {38.17, 73.96}, false},
      {"Hekou", {22.545, 103.95}, true},
      {"Lao Cai", {22.4856, 103.9707}, false},
      {"Xiamen Island", {24.4798, 118.0894}, true},
      {"Xiamen, Gulangyu", {24.4473, 118.064}, true},
      {"Kinmen, Jincheng", {24.4324, 118.3171}, false},
      {"Kinmen, Lieyu", {24.43, 118.24}, false},
      {"Matsu, Nangan", {26.155, 119.935}, false},
      {"Huangqi, facing Matsu", {26.33, 119.88}, true},
      {"Shanghai, Baoshan waterfront", {31.40845, 121.48956}, true},  // 1:10 m puts it in the sea
      {"Beijing", {39.9042, 116.4074}, true},
      {"Sanya", {18.2528, 109.512}, true},
      {"Heihe", {50.2456, 127.4886}, true},
      {"Blagoveshchensk", {50.2906, 127.5272}, false},
      {"Ruili", {24.0128, 97.8517}, true},
      {"Muse", {23.9787, 97.9018}, false},
      {"Manila", {14.5995, 120.9842}, false},
      {"Osaka", {34.6937, 135.5023}, false},
      {"Seoul", {37.5665, 126.978}, false},
      {"Taipei", {25.033, 121.565}, false},
      {"Hanoi", {21.0285, 105.8542}, false},
      {"Thimphu", {27.4728, 89.639}, false},
      {"New Delhi", {28.61, 77.21}, false},
      {"East China Sea", {30.0, 125.0}, false},
      {"Pearl River mouth, nearer Lantau", {22.3, 113.75}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.place);
    EXPECT_TRUE(T::contains(c.wgs));
    EXPECT_TRUE(T::contains(c.wgs, Region::rectangle));
    EXPECT_EQ(T::contains(c.wgs, Region::precise), c.inChina);
    // Inside, the precise transform is the rectangle's to the bit; outside it is the identity.
    const Coordinate precise = T::transformFromWGSToGCJ(c.wgs, Region::precise);
    EXPECT_TRUE(sameBits(precise, c.inChina ? T::transformFromWGSToGCJ(c.wgs) : c.wgs));
    // The inverse follows its forward transform: outside, a GCJ-02 point is already WGS-84.
    // (Within the offset, under a kilometre, of the edge a GCJ-02 point may have a second
    // WGS-84 point on the other side, as at the rectangle's edges.)
    bool nearEdge = false;
    for (const double d : {-0.01, 0.01}) {
      nearEdge = nearEdge || T::contains({c.wgs.latitude + d, c.wgs.longitude}, Region::precise) != c.inChina ||
                 T::contains({c.wgs.latitude, c.wgs.longitude + d}, Region::precise) != c.inChina;
    }
    if (!nearEdge) {
      const Coordinate back = T::transformFromGCJToWGS(precise, Region::precise);
      EXPECT_LT(std::fabs(back.latitude - c.wgs.latitude) + std::fabs(back.longitude - c.wgs.longitude), 1.2e-5);
    }
  }
  // Beyond the rectangle, and non-finite: outside (the rectangle counts NaN as inside).
  for (const Coordinate wgs : {Coordinate{48.85, 2.35}, Coordinate{kNaN, 116.0}, Coordinate{39.9, kNaN},
                               Coordinate{std::numeric_limits<double>::infinity(), 116.0}}) {
    EXPECT_FALSE(T::contains(wgs, Region::precise)) << wgs.latitude << ", " << wgs.longitude;
    EXPECT_TRUE(sameBits(T::transformFromWGSToGCJ(wgs, Region::precise), wgs));
  }
  EXPECT_TRUE(T::contains({kNaN, 116.0}));
}

TEST(ChinaRegion, TheRectangleOverloadsAreTheSpecifiedOperationsToTheBit) {
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> latitude(-1.0, 57.0);
  std::uniform_real_distribution<double> longitude(71.0, 139.0);
  for (int i = 0; i < 3000; ++i) {
    const Coordinate p{latitude(random), longitude(random)};
    ASSERT_TRUE(sameBits(T::transformFromWGSToGCJ(p, Region::rectangle), T::transformFromWGSToGCJ(p)));
    ASSERT_TRUE(sameBits(T::transformFromGCJToWGS(p, Region::rectangle), T::transformFromGCJToWGS(p)));
    ASSERT_TRUE(sameBits(T::transformFromWGSToBaidu(p, Region::rectangle), T::transformFromWGSToBaidu(p)));
    ASSERT_TRUE(sameBits(T::transformFromBaiduToWGS(p, Region::rectangle), T::transformFromBaiduToWGS(p)));
    // The precise region lies within the rectangle.
    ASSERT_TRUE(!T::contains(p, Region::precise) || T::contains(p)) << p.latitude << ", " << p.longitude;
  }
}

}  // namespace
}  // namespace tovik::test
