#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tovik/coord/orb_coor_transform.h"

namespace tovik::test {
namespace {

using T = OrbCoorTransform;

struct Operation {
  std::string name;
  std::function<Coordinate(Coordinate)> single;
  std::function<bool(std::span<const Coordinate>, std::span<Coordinate>, BatchPath)> batch;
  bool regionTest;  // points outside the region come back unchanged
  bool inverse;     // searches point by point whatever the path
  std::size_t forwardPoints = 1000003;
};

/// The specified operations, then the four that take a region, in each region.
std::vector<Operation> operations() {
  using Single = Coordinate (*)(Coordinate);
  using Batch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, BatchPath);
  std::vector<Operation> ops = {
      {"WgsToGcj", Single{T::transformFromWGSToGCJ}, Batch{T::transformFromWGSToGCJ}, true, false},
      {"GcjToBaidu", Single{T::transformFromGCJToBaidu}, Batch{T::transformFromGCJToBaidu}, false, false},
      {"BaiduToGcj", Single{T::transformFromBaiduToGCJ}, Batch{T::transformFromBaiduToGCJ}, false, false},
      {"WgsToBaidu", Single{T::transformFromWGSToBaidu}, Batch{T::transformFromWGSToBaidu}, false, false},
      {"GcjToWgs", Single{T::transformFromGCJToWGS}, Batch{T::transformFromGCJToWGS}, false, true},
      {"BaiduToWgs", Single{T::transformFromBaiduToWGS}, Batch{T::transformFromBaiduToWGS}, false, true},
  };
  using RegionSingle = Coordinate (*)(Coordinate, Region);
  using RegionBatch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, Region, BatchPath);
  const struct {
    const char* name;
    RegionSingle single;
    RegionBatch batch;
    bool regionTest;
    bool inverse;
  } regional[] = {
      {"WgsToGcj", T::transformFromWGSToGCJ, T::transformFromWGSToGCJ, true, false},
      {"WgsToBaidu", T::transformFromWGSToBaidu, T::transformFromWGSToBaidu, false, false},
      {"GcjToWgs", T::transformFromGCJToWGS, T::transformFromGCJToWGS, false, true},
      {"BaiduToWgs", T::transformFromBaiduToWGS, T::transformFromBaiduToWGS, false, true},
  };
  for (const Region region : {Region::rectangle, Region::precise}) {
    for (const auto& r : regional) {
      ops.push_back({std::string(r.name) + (region == Region::rectangle ? "InRectangle" : "InPreciseRegion"),
                     [r, region](Coordinate c) { return r.single(c, region); },
                     [r, region](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
                       return r.batch(in, out, region, path);
                     },
                     r.regionTest, r.inverse, 200003});
    }
  }
  return ops;
}

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

/// Points inside and outside the region, on and one ulp either side of its edges, and
/// non-finite ones.
std::vector<Coordinate> mixedPoints(std::size_t count, std::uint64_t seed) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf};
  const double latEdges[] = {0.8293, 55.8271};
  const double lonEdges[] = {72.004, 137.8347};
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> insideLat(0.8293, 55.8271);
  std::uniform_real_distribution<double> insideLon(72.004, 137.8347);
  std::uniform_real_distribution<double> anyLat(-90.0, 90.0);
  std::uniform_real_distribution<double> anyLon(-180.0, 180.0);
  std::vector<Coordinate> points;
  for (std::size_t i = 0; points.size() < count; ++i) {
    const auto kind = i % 8;
    if (kind < 3) {
      points.push_back({insideLat(random), insideLon(random)});
    } else if (kind == 3) {
      // Near China's land borders and coasts, where the precise region's edge runs.
      const Coordinate places[] = {{22.5, 114.1}, {22.2, 113.55}, {40.1, 124.4}, {48.0, 134.5},
                                   {39.5, 74.5},  {22.5, 104.0},  {24.45, 118.2}, {28.0, 86.0}};
      const Coordinate& place = places[random() % std::size(places)];
      std::uniform_real_distribution<double> offset(-0.3, 0.3);
      points.push_back({place.latitude + offset(random), place.longitude + offset(random)});
    } else if (kind < 6) {
      points.push_back({anyLat(random), anyLon(random)});
    } else if (kind == 6) {
      const int side = static_cast<int>(random() % 3) - 1;
      const auto nudge = [side](double v) { return side == 0 ? v : std::nextafter(v, side * inf); };
      points.push_back(random() % 2 == 0 ? Coordinate{nudge(latEdges[random() % 2]), insideLon(random)}
                                         : Coordinate{insideLat(random), nudge(lonEdges[random() % 2])});
    } else {
      const double special = specials[random() % 3];
      points.push_back(random() % 2 == 0 ? Coordinate{special, insideLon(random)}
                                         : Coordinate{insideLat(random), special});
    }
  }
  return points;
}

// The scalar path gives the single-point results to the bit; the vector paths stay within
// 1e-12 degree, copy points outside the region to the bit and give NaN exactly where the
// single-point form does. 1000003 points leave a tail on every vector width.
TEST(BatchTransform, EveryPathAgreesWithTheSinglePointResults) {
  const std::vector<Coordinate> all = mixedPoints(1000003, 2024);
  for (const Operation& op : operations()) {
    const std::span<const Coordinate> in = std::span(all).first(op.inverse ? 20000 : op.forwardPoints);
    std::vector<Coordinate> expected;
    for (const Coordinate c : in) {
      expected.push_back(op.single(c));
    }
    for (const BatchPath path : {BatchPath::scalar, BatchPath::sse2, BatchPath::avx2, BatchPath::avx512}) {
      if (T::effectiveBatchPath(path) != path || (op.inverse && path != BatchPath::scalar)) {
        continue;
      }
      SCOPED_TRACE(testing::Message() << op.name << " on path " << static_cast<int>(path));
      std::vector<Coordinate> out(in.size());
      ASSERT_TRUE(op.batch(in, out, path));
      const auto agrees = [&](double single, double batch, double input, bool outside) {
        if (path == BatchPath::scalar) {
          return sameBits(single, batch);
        }
        if (std::isnan(single) || std::isnan(batch)) {
          return std::isnan(single) && std::isnan(batch);
        }
        return outside ? sameBits(batch, input) : std::fabs(single - batch) <= 1e-12;
      };
      std::size_t failures = 0;
      for (std::size_t i = 0; i < in.size(); ++i) {
        const bool outside = op.regionTest && expected[i].latitude == in[i].latitude &&
                             expected[i].longitude == in[i].longitude;
        if ((!agrees(expected[i].latitude, out[i].latitude, in[i].latitude, outside) ||
             !agrees(expected[i].longitude, out[i].longitude, in[i].longitude, outside)) &&
            ++failures <= 5) {
          ADD_FAILURE() << "input " << in[i].latitude << ", " << in[i].longitude << ": single "
                        << expected[i].latitude << ", " << expected[i].longitude << ", batch " << out[i].latitude
                        << ", " << out[i].longitude;
        }
      }
      EXPECT_EQ(failures, 0u);

      // In place, and counts shorter than a vector.
      for (const std::size_t count : {1u, 3u, 7u, 9u, 17u}) {
        std::vector<Coordinate> points(in.begin(), in.begin() + count);
        std::vector<Coordinate> separate(count);
        ASSERT_TRUE(op.batch(points, separate, path));
        ASSERT_TRUE(op.batch(points, points, path));
        for (std::size_t i = 0; i < count; ++i) {
          EXPECT_TRUE(sameBits(points[i].latitude, separate[i].latitude) &&
                      sameBits(points[i].longitude, separate[i].longitude))
              << count << " points, #" << i;
        }
      }
    }
  }
}

TEST(BatchTransform, MismatchedSizesWriteNothing) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1.0, 2.0});
  EXPECT_FALSE(T::transformFromWGSToGCJ(in, out));
  EXPECT_FALSE(T::transformFromGCJToWGS(in, out));
  EXPECT_FALSE(T::transformFromWGSToGCJ(in, out, Region::precise));
  EXPECT_FALSE(T::transformFromWGSToBaidu(in, out, Region::precise, BatchPath::scalar));
  for (const Coordinate c : out) {
    EXPECT_TRUE(c.latitude == 1.0 && c.longitude == 2.0);
  }
  EXPECT_TRUE(T::transformFromBaiduToGCJ({}, {}));
  // A path this CPU lacks falls back to the widest one it has.
  EXPECT_EQ(T::effectiveBatchPath(BatchPath::avx512), T::effectiveBatchPath(BatchPath::automatic));
  EXPECT_EQ(T::effectiveBatchPath(BatchPath::scalar), BatchPath::scalar);
}

}  // namespace
}  // namespace tovik::test
