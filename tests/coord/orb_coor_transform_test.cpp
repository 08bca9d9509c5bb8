// The datum transforms: reference values and places, the batch paths against the single-point
// results, the inverse search against the plain one, and distances.

#include "tovik/coord/orb_coor_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/file_text.h"
#include "support/plain_gcj_inverse.h"
#include "tovik/coord/datum.h"
#include "tovik/coord/gcj_image_estimate.h"
#include "tovik/coord/gcj_inverse_search.h"

namespace tovik::test {
namespace {

using T = OrbCoorTransform;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

bool sameBits(Coordinate a, Coordinate b) {
  return sameBits(a.latitude, b.latitude) && sameBits(a.longitude, b.longitude);
}

double uniform(std::mt19937_64& random, double from, double to) {
  return std::uniform_real_distribution<double>(from, to)(random);
}

/// The table data/<name> beside this file holds.
nlohmann::json table(const std::string& name) {
  return nlohmann::json::parse(fileText(TOVIK_TESTS_DIR "/coord/data/" + name));
}

struct Operation {
  std::string name;
  std::function<Coordinate(Coordinate)> single;
  std::function<bool(std::span<const Coordinate>, std::span<Coordinate>, BatchPath)> batch;
  bool regionTest;  // the points it leaves alone (outside the region) come back bit for bit
  bool inverse;     // searches point by point whatever the path
  std::size_t batchPoints = 1000003;
};

/// The six operations, then every conversion between two datums (convertDatum) in each region.
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
  for (const Region region : {Region::rectangle, Region::precise}) {
    const std::string where = region == Region::rectangle ? "" : "InPreciseRegion";
    ops.push_back({"GcjToWgsPrecise" + where, [=](Coordinate c) { return T::transformFromGCJToWGSPrecise(c, region); },
                   [=](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
                     return T::transformFromGCJToWGSPrecise(in, out, region, path);
                   },
                   true, false});
    ops.push_back({"BaiduToWgsPrecise" + where,
                   [=](Coordinate c) { return T::transformFromBaiduToWGSPrecise(c, region); },
                   [=](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
                     return T::transformFromBaiduToWGSPrecise(in, out, region, path);
                   },
                   false, false});
  }
  const std::string names[] = {"Wgs", "Gcj", "Baidu"};  // in the order of Datum
  for (const Region region : {Region::rectangle, Region::precise}) {
    for (const Datum from : {Datum::wgs84, Datum::gcj02, Datum::bd09}) {
      for (const Datum to : {Datum::wgs84, Datum::gcj02, Datum::bd09}) {
        ops.push_back({names[static_cast<int>(from)] + "To" + names[static_cast<int>(to)] +
                           (region == Region::rectangle ? "InRectangle" : "InPreciseRegion"),
                       [=](Coordinate c) { return convertDatum(c, from, to, region); },
                       [=](std::span<const Coordinate> in, std::span<Coordinate> out, BatchPath path) {
                         return convertDatum(in, out, from, to, region, path);
                       },
                       from == to || (from == Datum::wgs84 && to == Datum::gcj02),
                       from != Datum::wgs84 && to == Datum::wgs84, 200003});
      }
    }
  }
  return ops;
}

/// Points within `spread` degrees of places on China's land borders and coasts, where the
/// precise region's edge runs.
std::vector<Coordinate> nearBorders(std::size_t count, std::mt19937_64& random, double spread) {
  const Coordinate places[] = {{22.52, 114.1}, {22.2, 113.55}, {40.1, 124.4},  {53.3, 122.3},
                               {48.0, 134.5},  {39.5, 74.5},   {22.5, 103.97}, {24.45, 118.2},
                               {26.15, 119.9}, {28.0, 86.0},   {22.5, 114.1}};
  std::vector<Coordinate> points;
  while (points.size() < count) {
    const Coordinate& place = places[random() % std::size(places)];
    points.push_back(
        {place.latitude + uniform(random, -spread, spread), place.longitude + uniform(random, -spread, spread)});
  }
  return points;
}

/// The rectangle's corners and points half a degree outside it, points inside it, a few degrees
/// around it, near China's borders, anywhere, on and one ulp either side of its edges, and
/// non-finite and huge ones.
std::vector<Coordinate> mixedPoints(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const double specials[] = {kNaN, kInf, -kInf, 1e308};
  const double latEdges[] = {0.8293, 55.8271};
  const double lonEdges[] = {72.004, 137.8347};
  std::vector<Coordinate> points = {{0.8293, 72.004},    {0.8293, 137.8347}, {55.8271, 72.004},
                                    {55.8271, 137.8347}, {0.3293, 100.0},    {30.0, 71.504}};
  for (std::size_t i = 0; points.size() < count; ++i) {
    const auto kind = i % 8;
    const Coordinate inside{uniform(random, 0.8293, 55.8271), uniform(random, 72.004, 137.8347)};
    if (kind < 3) {
      points.push_back(inside);
    } else if (kind == 3) {
      points.push_back(nearBorders(1, random, 0.3).front());
    } else if (kind == 4) {
      points.push_back({uniform(random, -2.5, 58.5), uniform(random, 69.0, 141.0)});
    } else if (kind == 5) {
      points.push_back({uniform(random, -90.0, 90.0), uniform(random, -180.0, 180.0)});
    } else if (kind == 6) {
      const int side = static_cast<int>(random() % 3) - 1;
      const auto nudge = [side](double v) { return side == 0 ? v : std::nextafter(v, side * kInf); };
      points.push_back(random() % 2 == 0 ? Coordinate{nudge(latEdges[random() % 2]), inside.longitude}
                                         : Coordinate{inside.latitude, nudge(lonEdges[random() % 2])});
    } else {
      const double special = specials[random() % std::size(specials)];
      points.push_back(random() % 2 == 0 ? Coordinate{special, inside.longitude}
                                         : Coordinate{inside.latitude, special});
    }
  }
  return points;
}

TEST(OrbCoorTransform, MatchesReferenceValues) {
  const std::vector<Operation> ops = operations();
  // operation, latitude, longitude, the expected latitude and longitude, a note
  for (const auto& row : table("reference_values.json")) {
    SCOPED_TRACE(row.dump());
    const auto op = std::find_if(ops.begin(), ops.end(), [&](const Operation& o) { return o.name == row[0]; });
    ASSERT_NE(op, ops.end());
    const Coordinate out = op->single({row[1], row[2]});
    EXPECT_NEAR(out.latitude, row[3].get<double>(), 1e-9);
    EXPECT_NEAR(out.longitude, row[4].get<double>(), 1e-9);
  }
  const Coordinate nearOrigin = T::transformFromGCJToWGS({0.1, 0.1});
  EXPECT_EQ(nearOrigin.latitude, 0.09999999999999998);
  EXPECT_EQ(nearOrigin.longitude, 0.09999999999999998);
}

TEST(OrbCoorTransform, RoundTripsStayWithinTheSearchTolerance) {
  // The search stops within 1e-5 degree (both components together) and a search that kept a
  // wrong quadrant is mended to the same tolerance; BD-09 there and back adds up to 3e-6.
  std::mt19937_64 random(20240611);
  const auto error = [](Coordinate a, Coordinate b) {
    return std::fabs(a.latitude - b.latitude) + std::fabs(a.longitude - b.longitude);
  };
  for (int i = 0; i < 20000; ++i) {
    const Coordinate wgs{uniform(random, 0.8293 + 0.05, 55.8271 - 0.05),
                         uniform(random, 72.004 + 0.05, 137.8347 - 0.05)};
    SCOPED_TRACE(testing::Message() << wgs.latitude << ", " << wgs.longitude);
    ASSERT_LT(error(T::transformFromGCJToWGS(T::transformFromWGSToGCJ(wgs)), wgs), 1.2e-5);
    ASSERT_LT(error(T::transformFromBaiduToWGS(T::transformFromWGSToBaidu(wgs)), wgs), 1.5e-5);
  }
}

TEST(OrbCoorTransform, DistancesMatchReferenceValues) {
  // lat1, lat2, lng1, lng2, metres (within a millimetre); null stands for NaN
  for (const auto& row : table("distances.json")) {
    SCOPED_TRACE(row.dump());
    double c[5];
    std::transform(row.begin(), row.end(), c,
                   [](const nlohmann::json& v) { return v.is_null() ? kNaN : v.get<double>(); });
    const double metres = T::distanceByPoint(c[0], c[1], c[2], c[3]);
    EXPECT_TRUE(std::isnan(c[4]) ? std::isnan(metres) : std::fabs(metres - c[4]) <= 1e-3) << metres;
    // The two-point form takes (latitude, longitude) pairs.
    const double pair = T::distanceByPoint(Coordinate{c[0], c[2]}, Coordinate{c[1], c[3]});
    EXPECT_TRUE(pair == metres || (std::isnan(pair) && std::isnan(metres))) << pair;
  }
}

TEST(OrbCoorTransform, CoincidentPointsAreZeroAndAntipodesNeverNaN) {
  // Unclamped, rounding pushes the squared chord below 0 or above 4 for some of these, and asin
  // then gives NaN.
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    const double lat = uniform(random, -90.0, 90.0);
    const double lng = uniform(random, -180.0, 180.0);
    ASSERT_EQ(T::distanceByPoint(lat, lat, lng, lng), 0.0) << lat << ", " << lng;
    ASSERT_NEAR(T::distanceByPoint(lat, -lat, lng, lng + 180.0), 20015099.362, 1.0) << lat << ", " << lng;
  }
}

// Places on both sides of each border, a few kilometres from it (the boundary data's accuracy),
// the places the rectangle gets wrong, and the rectangle's own bounds: latitude, longitude
// (WGS-84), in the rectangle, in the precise region, the place.
TEST(ChinaRegion, ReferencePlacesFallOnTheirSide) {
  for (const auto& row : table("places.json")) {
    SCOPED_TRACE(row[4].get<std::string>());
    const Coordinate wgs{row[0], row[1]};
    const bool inRectangle = row[2];
    const bool inChina = row[3];
    EXPECT_EQ(T::contains(wgs), inRectangle);
    EXPECT_EQ(T::contains(wgs, Region::rectangle), inRectangle);
    EXPECT_EQ(sameBits(T::transformFromWGSToGCJ(wgs), wgs), !inRectangle);
    EXPECT_EQ(T::contains(wgs, Region::precise), inChina);
    // Inside, the precise transform is the rectangle's to the bit; outside it is the identity.
    const Coordinate precise = T::transformFromWGSToGCJ(wgs, Region::precise);
    EXPECT_TRUE(sameBits(precise, inChina ? T::transformFromWGSToGCJ(wgs) : wgs));
    // The inverse follows its forward transform: outside, a GCJ-02 point is already WGS-84.
    // (Within the offset, under a kilometre, of the edge a GCJ-02 point may have a second
    // WGS-84 point on the other side, as at the rectangle's edges.)
    bool nearEdge = false;
    for (const double d : {-0.01, 0.01}) {
      nearEdge = nearEdge || T::contains({wgs.latitude + d, wgs.longitude}, Region::precise) != inChina ||
                 T::contains({wgs.latitude, wgs.longitude + d}, Region::precise) != inChina;
    }
    if (!nearEdge) {
      const Coordinate back = T::transformFromGCJToWGS(precise, Region::precise);
      EXPECT_LT(std::fabs(back.latitude - wgs.latitude) + std::fabs(back.longitude - wgs.longitude), 1.2e-5);
    }
  }
  // Non-finite points are outside the precise region; the rectangle counts NaN as inside and
  // gives NaN in both components.
  for (const Coordinate wgs : {Coordinate{kNaN, 116.0}, Coordinate{39.9, kNaN}, Coordinate{kInf, 116.0}}) {
    EXPECT_FALSE(T::contains(wgs, Region::precise)) << wgs.latitude << ", " << wgs.longitude;
    EXPECT_TRUE(sameBits(T::transformFromWGSToGCJ(wgs, Region::precise), wgs));
    const Coordinate gcj = T::transformFromWGSToGCJ(wgs);
    EXPECT_TRUE(std::isinf(wgs.latitude) ||
                (T::contains(wgs) && std::isnan(gcj.latitude) && std::isnan(gcj.longitude)));
  }
}

/// Equal to the bit, or NaN in the same components.
bool same(Coordinate a, Coordinate b) {
  const auto one = [](double x, double y) { return sameBits(x, y) || (std::isnan(x) && std::isnan(y)); };
  return one(a.latitude, b.latitude) && one(a.longitude, b.longitude);
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
    SCOPED_TRACE(testing::Message() << "margin " << run.margin << ", region " << static_cast<int>(run.region));
    const GcjInverseSearch search(run.margin, run.region);
    std::size_t mended = 0;
    std::mt19937_64 random(42);
    const auto points =
        run.region == Region::rectangle ? mixedPoints(run.count, 42) : nearBorders(run.count, random, 0.4);
    for (const Coordinate target : points) {
      const auto plain =
          plainGcjInverse(target, [&](Coordinate wgs) { return T::transformFromWGSToGCJ(wgs, run.region); });
      ASSERT_TRUE(same(plain.point, search.run(target))) << "target " << target.latitude << ", " << target.longitude;
      mended += same(plain.point, plain.bisection) ? 0 : 1;
    }
    if (run.count == 100000) {
      EXPECT_GT(mended, 100u) << "the sample should take the mend often enough to compare it";
    }
  }
}

TEST(GcjImageEstimate, StaysWithinItsStatedErrorOverAWholeSearch) {
  // The search's exactness rests on this bound. A search turns the first centre's angles up to
  // 29 times, by halving steps in any direction; look well past the region's edges too.
  std::mt19937_64 random(5);
  const auto error = [](const GcjImageEstimate::Axes& axes) {
    const Coordinate exact = T::transformFromWGSToGCJ({axes.row.latitude, axes.column.longitude});
    const Coordinate estimate = GcjImageEstimate::image(axes.column, axes.row);
    return std::max(std::fabs(exact.latitude - estimate.latitude), std::fabs(exact.longitude - estimate.longitude));
  };
  double worst = 0.0;
  for (int path = 0; path < 40000; ++path) {
    GcjImageEstimate::Axes axes = GcjImageEstimate::axes(uniform(random, 71.0, 139.0), uniform(random, 0.0, 57.0));
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

// The scalar path gives the single-point results to the bit; the vector paths stay within
// 1e-12 degree, copy points outside the region to the bit and give NaN exactly where the
// single-point form does. 1000003 points leave a tail on every vector width.
TEST(BatchTransform, EveryPathAgreesWithTheSinglePointResults) {
  const std::vector<Coordinate> all = mixedPoints(1000003, 2024);
  std::map<std::string, std::vector<Coordinate>> singles;  // the single-point results, by operation
  for (const Operation& op : operations()) {
    const std::span<const Coordinate> in = std::span(all).first(op.inverse ? 20000 : op.batchPoints);
    std::vector<Coordinate>& expected = singles[op.name];
    for (const Coordinate c : in) {
      expected.push_back(op.single(c));
    }
    // With the rectangle, an operation that takes a region is the one without, to the bit; the
    // precise region moves only points the rectangle moves.
    const auto at = op.name.find("In");
    if (const auto plain = singles.find(op.name.substr(0, at)); at != std::string::npos && plain != singles.end()) {
      for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(op.name.ends_with("InRectangle")
                        ? sameBits(expected[i], plain->second[i])
                        : !op.regionTest || sameBits(expected[i], in[i]) || !sameBits(plain->second[i], in[i]))
            << op.name << ": " << in[i].latitude << ", " << in[i].longitude;
      }
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
      for (std::size_t i = 0; i < in.size(); ++i) {
        const bool outside = op.regionTest && sameBits(expected[i], in[i]);
        ASSERT_TRUE(agrees(expected[i].latitude, out[i].latitude, in[i].latitude, outside) &&
                    agrees(expected[i].longitude, out[i].longitude, in[i].longitude, outside))
            << "input " << in[i].latitude << ", " << in[i].longitude << ": single " << expected[i].latitude << ", "
            << expected[i].longitude << ", batch " << out[i].latitude << ", " << out[i].longitude;
      }

      // In place, and counts shorter than a vector.
      for (const std::size_t count : {1u, 3u, 7u, 9u, 17u}) {
        std::vector<Coordinate> points(in.begin(), in.begin() + count);
        std::vector<Coordinate> separate(count);
        ASSERT_TRUE(op.batch(points, separate, path));
        ASSERT_TRUE(op.batch(points, points, path));
        for (std::size_t i = 0; i < count; ++i) {
          EXPECT_TRUE(sameBits(points[i], separate[i])) << count << " points, #" << i;
        }
      }
    }
  }
}

/// Metres between two nearby points, by the local scale of the degrees.
double metresApart(Coordinate a, Coordinate b) {
  constexpr double metresPerDegree = 111319.49;
  const double north = (a.latitude - b.latitude) * metresPerDegree;
  const double east = (a.longitude - b.longitude) * metresPerDegree * std::cos(a.latitude * std::numbers::pi / 180.0);
  return std::hypot(north, east);
}

/// A WGS-84 grid over the whole rectangle, with a dense strip across longitude 105 E, where the
/// offset's square-root term has no slope.
std::vector<Coordinate> rectangleGrid() {
  std::vector<Coordinate> points;
  for (double lat = 0.8293; lat <= 55.8271; lat += 0.0771) {
    for (double lon = 72.004; lon <= 137.8347; lon += 0.0631) {
      points.push_back({lat, lon});
    }
    for (double lon = 105.0 - 2e-4; lon <= 105.0 + 2e-4; lon += 7.3e-6) {
      points.push_back({lat, lon});
    }
  }
  return points;
}

/// The precise inverses against their forward transforms over the whole region: the forward
/// image of each result is within a millimetre of the input, on every path.
TEST(PreciseInverse, UndoesTheForwardTransformToAMillimetreOverTheRegion) {
  const std::vector<Coordinate> wgs = rectangleGrid();
  struct Case {
    const char* name;
    Coordinate (*forward)(Coordinate);
    bool (*inverse)(std::span<const Coordinate>, std::span<Coordinate>, Region, BatchPath);
  };
  const Case cases[] = {{"GCJ-02", T::transformFromWGSToGCJ, T::transformFromGCJToWGSPrecise},
                        {"BD-09", T::transformFromWGSToBaidu, T::transformFromBaiduToWGSPrecise}};
  for (const Case& c : cases) {
    std::vector<Coordinate> images;
    for (const Coordinate w : wgs) {
      images.push_back(c.forward(w));
    }
    for (const BatchPath path : {BatchPath::scalar, BatchPath::sse2, BatchPath::avx2, BatchPath::avx512}) {
      if (T::effectiveBatchPath(path) != path) {
        continue;
      }
      std::vector<Coordinate> back(images.size());
      ASSERT_TRUE(c.inverse(images, back, Region::rectangle, path));
      double worst = 0.0;
      double worstAway = 0.0;  // more than 0.001 degree from longitude 105
      double worstFromStart = 0.0;
      for (std::size_t i = 0; i < images.size(); ++i) {
        const double error = metresApart(c.forward(back[i]), images[i]);
        worst = std::max(worst, error);
        if (std::fabs(back[i].longitude - 105.0) > 1e-3) {
          worstAway = std::max(worstAway, error);
        }
        // The offset is one to one where the image stays inside the rectangle: the answer is the
        // point the grid started from.
        if (!T::contains(images[i]) || T::contains(back[i]) != T::contains(wgs[i])) {
          continue;
        }
        worstFromStart = std::max(worstFromStart, metresApart(back[i], wgs[i]));
      }
      SCOPED_TRACE(testing::Message() << c.name << " on path " << static_cast<int>(path));
      EXPECT_LE(worst, 1e-3);
      EXPECT_LE(worstAway, 1e-6);
      EXPECT_LE(worstFromStart, 1e-3);
    }
  }
}

TEST(PreciseInverse, LeavesWhatTheRegionLeavesAlone) {
  // Hong Kong is outside the precise region: its points are their own preimages there, not in
  // the rectangle.
  const Coordinate hongKong{22.2783, 114.1747};
  EXPECT_TRUE(sameBits(T::transformFromGCJToWGSPrecise(hongKong, Region::precise), hongKong));
  EXPECT_GT(metresApart(T::transformFromGCJToWGSPrecise(hongKong), hongKong), 100.0);
  const Coordinate beijing{39.9087, 116.3975};
  const Coordinate gcj = T::transformFromWGSToGCJ(beijing, Region::precise);
  EXPECT_LE(metresApart(T::transformFromGCJToWGSPrecise(gcj, Region::precise), beijing), 1e-6);
  const Coordinate bd = T::transformFromWGSToBaidu(beijing, Region::precise);
  EXPECT_LE(metresApart(T::transformFromBaiduToWGSPrecise(bd, Region::precise), beijing), 1e-6);
  // Outside the rectangle, and NaN.
  const Coordinate paris{48.8566, 2.3522};
  EXPECT_TRUE(sameBits(T::transformFromGCJToWGSPrecise(paris), paris));
  EXPECT_TRUE(std::isnan(T::transformFromGCJToWGSPrecise({kNaN, 116.4}).latitude));
  EXPECT_TRUE(std::isnan(T::transformFromBaiduToWGSPrecise({39.9, kNaN}).longitude));
  // The search stays the default, a few decimetres off where the precise inverse is exact.
  EXPECT_GT(metresApart(T::transformFromGCJToWGS(T::transformFromWGSToGCJ(beijing)), beijing), 1e-3);
}

// Published values of GeographicLib's test suite and documentation (WGS-84): lat1, lon1, lat2,
// lon2, metres, tolerance.
TEST(GeodesicDistance, MatchesGeographicLibsPublishedValues) {
  const struct {
    double lat1, lon1, lat2, lon2, metres, tolerance;
  } rows[] = {
      {40.6, -73.8, 49.01666667, 2.55, 5853226.0, 0.5},  // JFK to Paris CDG
      {36.493349428792, 0.0, 36.49334942879201, 0.0000008, 0.072, 0.5e-3},
      {56.320923501171, 0.0, -56.320923501171, 179.664747671772880215, 19993558.287, 0.5e-3},
      {52.784459512564, 0.0, -52.784459512563990912, 179.634407464943777557, 19991596.095, 0.5e-3},
      {48.522876735459, 0.0, -48.52287673545898293, 179.599720456223079643, 19989144.774, 0.5e-3},
  };
  for (const auto& row : rows) {
    EXPECT_NEAR(T::geodesicDistance({row.lat1, row.lon1}, {row.lat2, row.lon2}), row.metres, row.tolerance)
        << row.lat1 << ", " << row.lon1 << " to " << row.lat2 << ", " << row.lon2;
  }
  EXPECT_EQ(T::geodesicDistance({39.9, 116.4}, {39.9, 116.4}), 0.0);
  EXPECT_TRUE(std::isnan(T::geodesicDistance({kNaN, 0.0}, {0.0, 90.0})));
  EXPECT_TRUE(std::isnan(T::geodesicDistance({116.4, 39.9}, {0.0, 90.0})));  // lon,lat read as lat,lon
}

// A dense track keeps its length on the ellipsoid, where the sphere's chord formula rounds
// centimetre steps away.
TEST(GeodesicDistance, TrackLengthsAddUpTheirSegments) {
  std::vector<Coordinate> track;
  for (int i = 0; i <= 1000; ++i) {
    track.push_back({39.9, 116.4 + i * 1e-7});  // under a centimetre a step
  }
  const double ellipsoid = T::geodesicTrackLength(track);
  EXPECT_NEAR(ellipsoid, T::geodesicDistance(track.front(), track.back()), 1e-9);
  EXPECT_NEAR(ellipsoid, 8.552, 0.001);
  EXPECT_LT(T::trackLength(track), 0.5 * ellipsoid);

  const std::vector<Coordinate> corner = {{31.2, 121.5}, {39.9, 116.4}, {39.9, 116.5}};
  EXPECT_DOUBLE_EQ(T::trackLength(corner),
                   T::distanceByPoint(corner[0], corner[1]) + T::distanceByPoint(corner[1], corner[2]));
  EXPECT_EQ(T::trackLength(std::span(corner).first(1)), 0.0);
  EXPECT_EQ(T::geodesicTrackLength({}), 0.0);
}

TEST(BatchTransform, MismatchedSizesWriteNothing) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1.0, 2.0});
  EXPECT_FALSE(T::transformFromWGSToGCJ(in, out));
  EXPECT_FALSE(T::transformFromGCJToWGS(in, out));
  EXPECT_FALSE(T::transformFromGCJToWGSPrecise(in, out, Region::precise));
  EXPECT_FALSE(T::transformFromBaiduToWGSPrecise(in, out));
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
