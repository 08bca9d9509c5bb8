#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tovik/coord/orb_coor_transform.h"

namespace tovik {
namespace {

using Single = Coordinate (*)(Coordinate);
using Batch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, BatchPath);

struct Operation {
  const char* name;
  Single single;
  Batch batch;
  bool regionTest;  // points outside the region come back unchanged
};

const Operation kWgsToGcj{"WgsToGcj", OrbCoorTransform::transformFromWGSToGCJ,
                          OrbCoorTransform::transformFromWGSToGCJ, true};
const Operation kGcjToBaidu{"GcjToBaidu", OrbCoorTransform::transformFromGCJToBaidu,
                            OrbCoorTransform::transformFromGCJToBaidu, false};
const Operation kBaiduToGcj{"BaiduToGcj", OrbCoorTransform::transformFromBaiduToGCJ,
                            OrbCoorTransform::transformFromBaiduToGCJ, false};
const Operation kWgsToBaidu{"WgsToBaidu", OrbCoorTransform::transformFromWGSToBaidu,
                            OrbCoorTransform::transformFromWGSToBaidu, false};
const Operation kGcjToWgs{"GcjToWgs", OrbCoorTransform::transformFromGCJToWGS,
                          OrbCoorTransform::transformFromGCJToWGS, false};
const Operation kBaiduToWgs{"BaiduToWgs", OrbCoorTransform::transformFromBaiduToWGS,
                            OrbCoorTransform::transformFromBaiduToWGS, false};

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

/// Points inside and outside the region, on and next to its edges, and non-finite ones.
std::vector<Coordinate> mixedPoints(std::size_t count, std::uint64_t seed) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> insideLat(0.8293, 55.8271);
  std::uniform_real_distribution<double> insideLon(72.004, 137.8347);
  std::uniform_real_distribution<double> anyLat(-90.0, 90.0);
  std::uniform_real_distribution<double> anyLon(-180.0, 180.0);
  const double latEdges[] = {0.8293, 55.8271};
  const double lonEdges[] = {72.004, 137.8347};
  const double specials[] = {nan, inf, -inf};
  std::vector<Coordinate> points;
  points.reserve(count);
  for (std::size_t i = 0; points.size() < count; ++i) {
    switch (i % 8) {
      case 0:
      case 1:
      case 2:
      case 3:
        points.push_back({insideLat(random), insideLon(random)});
        break;
      case 4:
      case 5:
        points.push_back({anyLat(random), anyLon(random)});
        break;
      case 6: {  // on an edge or one ulp either side of it
        const int side = static_cast<int>(random() % 3) - 1;
        const auto nudge = [side](double v) {
          return side == 0 ? v : std::nextafter(v, side < 0 ? -inf : inf);
        };
        if (random() % 2 == 0) {
          points.push_back({nudge(latEdges[random() % 2]), insideLon(random)});
        } else {
          points.push_back({insideLat(random), nudge(lonEdges[random() % 2])});
        }
        break;
      }
      default: {
        const double special = specials[random() % 3];
        points.push_back(random() % 2 == 0 ? Coordinate{special, insideLon(random)}
                                           : Coordinate{insideLat(random), special});
        break;
      }
    }
  }
  return points;
}

std::vector<Coordinate> singleResults(const Operation& op, const std::vector<Coordinate>& in) {
  std::vector<Coordinate> out;
  out.reserve(in.size());
  for (const Coordinate c : in) {
    out.push_back(op.single(c));
  }
  return out;
}

TEST(BatchTransform, ScalarPathGivesTheSinglePointResultsToTheBit) {
  const std::vector<Coordinate> in = mixedPoints(4000, 1);
  for (const Operation& op : {kWgsToGcj, kGcjToBaidu, kBaiduToGcj, kWgsToBaidu, kGcjToWgs, kBaiduToWgs}) {
    SCOPED_TRACE(op.name);
    const std::vector<Coordinate> expected = singleResults(op, in);
    std::vector<Coordinate> out(in.size());
    ASSERT_TRUE(op.batch(in, out, BatchPath::scalar));
    for (std::size_t i = 0; i < in.size(); ++i) {
      ASSERT_TRUE(sameBits(out[i].latitude, expected[i].latitude) &&
                  sameBits(out[i].longitude, expected[i].longitude))
          << "point " << i << ": " << in[i].latitude << ", " << in[i].longitude;
    }
  }
}

TEST(BatchTransform, MismatchedSizesWriteNothing) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1.0, 2.0});
  EXPECT_FALSE(OrbCoorTransform::transformFromWGSToGCJ(in, out));
  EXPECT_FALSE(OrbCoorTransform::transformFromGCJToWGS(in, out));
  for (const Coordinate c : out) {
    EXPECT_EQ(c.latitude, 1.0);
    EXPECT_EQ(c.longitude, 2.0);
  }
  EXPECT_TRUE(OrbCoorTransform::transformFromBaiduToGCJ({}, {}));
}

TEST(BatchTransform, AutomaticTakesTheWidestPathAndFallsBackBelowIt) {
  const BatchPath widest = OrbCoorTransform::effectiveBatchPath(BatchPath::automatic);
  EXPECT_EQ(OrbCoorTransform::effectiveBatchPath(BatchPath::avx512), widest);
  EXPECT_EQ(OrbCoorTransform::effectiveBatchPath(BatchPath::scalar), BatchPath::scalar);
}

struct VectorCase {
  BatchPath path;
  Operation operation;
};

std::string pathName(BatchPath path) {
  switch (path) {
    case BatchPath::sse2:
      return "Sse2";
    case BatchPath::avx2:
      return "Avx2";
    case BatchPath::avx512:
      return "Avx512";
    default:
      return "Other";
  }
}

class VectorBatch : public testing::TestWithParam<VectorCase> {
 protected:
  void SetUp() override {
    if (OrbCoorTransform::effectiveBatchPath(GetParam().path) != GetParam().path) {
      GTEST_SKIP() << "this CPU or build has no " << pathName(GetParam().path) << " unit";
    }
  }
};

TEST_P(VectorBatch, StaysWithinATrillionthOfADegreeOfTheSinglePointResults) {
  const Operation& op = GetParam().operation;
  const std::vector<Coordinate> in = mixedPoints(1000000, 2024);
  const std::vector<Coordinate> expected = singleResults(op, in);
  std::vector<Coordinate> out(in.size());
  ASSERT_TRUE(op.batch(in, out, GetParam().path));

  const auto agrees = [&](double single, double vector, double input, bool outside) {
    if (std::isnan(single) || std::isnan(vector)) {
      return std::isnan(single) && std::isnan(vector);
    }
    if (outside) {
      return sameBits(vector, input);
    }
    return single == vector || std::fabs(single - vector) <= 1e-12;
  };
  std::size_t failures = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const bool outside = op.regionTest && expected[i].latitude == in[i].latitude &&
                         expected[i].longitude == in[i].longitude;
    if ((!agrees(expected[i].latitude, out[i].latitude, in[i].latitude, outside) ||
         !agrees(expected[i].longitude, out[i].longitude, in[i].longitude, outside)) &&
        ++failures <= 5) {
      ADD_FAILURE() << "input " << in[i].latitude << ", " << in[i].longitude << ": single "
                    << expected[i].latitude << ", " << expected[i].longitude << " vector "
                    << out[i].latitude << ", " << out[i].longitude;
    }
  }
  EXPECT_EQ(failures, 0u);
}

TEST_P(VectorBatch, ConvertsInPlaceAndHandlesShortTails) {
  const Operation& op = GetParam().operation;
  for (const std::size_t count : {1u, 3u, 7u, 9u, 17u}) {
    std::vector<Coordinate> points = mixedPoints(count, count);
    std::vector<Coordinate> separate(count);
    ASSERT_TRUE(op.batch(points, separate, GetParam().path));
    ASSERT_TRUE(op.batch(points, points, GetParam().path));
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_TRUE(sameBits(points[i].latitude, separate[i].latitude)) << count << " points, #" << i;
      EXPECT_TRUE(sameBits(points[i].longitude, separate[i].longitude)) << count << " points, #" << i;
    }
  }
}

std::vector<VectorCase> vectorCases() {
  std::vector<VectorCase> cases;
  for (const BatchPath path : {BatchPath::sse2, BatchPath::avx2, BatchPath::avx512}) {
    for (const Operation& op : {kWgsToGcj, kGcjToBaidu, kBaiduToGcj, kWgsToBaidu}) {
      cases.push_back({path, op});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorBatch, testing::ValuesIn(vectorCases()),
                         [](const testing::TestParamInfo<VectorCase>& info) {
                           return pathName(info.param.path) + info.param.operation.name;
                         });

}  // namespace
}  // namespace tovik
