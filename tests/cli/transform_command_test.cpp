// `tovik transform` and `tovik distance` through the real binary, against the library.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/tool_process.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using Batch = std::function<bool(std::span<const Coordinate>, std::span<Coordinate>)>;

std::string shortest(double value) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

double number(std::string_view text) {
  double value = std::nan("");
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// A few thousand points over China and around it, some well outside the offset region.
std::vector<Coordinate> samplePoints() {
  std::vector<Coordinate> points;
  for (int i = 0; i < 5000; ++i) {
    const double latitude = -10.0 + 70.0 * ((i * 7919) % 5000) / 5000.0 + i * 1e-7;
    const double longitude = 60.0 + 90.0 * ((i * 104729) % 5000) / 5000.0 - i * 1e-7;
    points.push_back({latitude, longitude});
  }
  return points;
}

TEST(CliTransformTest, BatchFormEqualsTheLibrarysBatchInEveryDirection) {
  using T = OrbCoorTransform;
  struct Case {
    const char* from;
    const char* to;
    Batch batch;
  };
  const std::vector<Case> cases = {
      {"wgs84", "gcj02", [](auto in, auto out) { return T::transformFromWGSToGCJ(in, out); }},
      {"gcj02", "wgs84", [](auto in, auto out) { return T::transformFromGCJToWGS(in, out); }},
      {"gcj02", "bd09", [](auto in, auto out) { return T::transformFromGCJToBaidu(in, out); }},
      {"bd09", "gcj02", [](auto in, auto out) { return T::transformFromBaiduToGCJ(in, out); }},
      {"WGS84", "BD09", [](auto in, auto out) { return T::transformFromWGSToBaidu(in, out); }},
      {"bd09", "wgs84", [](auto in, auto out) { return T::transformFromBaiduToWGS(in, out); }},
      {"gcj02", "gcj02", [](auto in, auto out) { std::copy(in.begin(), in.end(), out.begin()); return true; }},
  };
  const auto points = samplePoints();
  std::string input;
  for (const Coordinate& p : points) input += shortest(p.latitude) + "," + shortest(p.longitude) + "\n";

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
    std::vector<Coordinate> expected(points.size());
    ASSERT_TRUE(c.batch(points, expected));
    const ToolResult result = runTool({"transform", c.from, c.to}, input);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), points.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto comma = lines[i].find(',');
      ASSERT_NE(comma, std::string::npos) << lines[i];
      // Shortest round-trip text: reading it back gives the library's double exactly.
      ASSERT_EQ(number(std::string_view(lines[i]).substr(0, comma)), expected[i].latitude) << i << ": " << lines[i];
      ASSERT_EQ(number(std::string_view(lines[i]).substr(comma + 1)), expected[i].longitude) << i << ": " << lines[i];
    }
  }
}

TEST(CliTransformTest, BatchFormKeepsLinesInPlaceAndStopsAtABadLine) {
  const ToolResult tidy = runTool({"transform", "wgs84", "wgs84"}, " 39.9 , 116.4\r\n\n+31.2,121.5");
  ASSERT_EQ(tidy.status, 0) << tidy.err;
  EXPECT_EQ(tidy.out, "39.9,116.4\n\n31.2,121.5\n");

  const ToolResult asJson = runTool({"transform", "wgs84", "gcj02", "--json"}, "39.9,116.4\n");
  ASSERT_EQ(asJson.status, 0) << asJson.err;
  const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  EXPECT_EQ(json::parse(asJson.out), (json{{"latitude", gcj.latitude}, {"longitude", gcj.longitude}}));

  const ToolResult bad = runTool({"transform", "wgs84", "wgs84"}, "1,2\n3,4\n39.9;116.4\n5,6\n");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "1,2\n3,4\n");
  EXPECT_EQ(bad.err, "tovik transform: line 3: expected LAT,LON, got '39.9;116.4'\n");

  const ToolResult empty = runTool({"transform", "bd09", "wgs84"}, "");
  EXPECT_EQ(empty.status, 0);
  EXPECT_TRUE(empty.out.empty());
}

TEST(CliTransformTest, SinglePointAndDistanceEqualTheLibrary) {
  const Coordinate bd = OrbCoorTransform::transformFromGCJToBaidu({39.908, 116.397});
  const ToolResult point = runTool({"transform", "gcj02", "bd09", "39.908", "116.397"});
  ASSERT_EQ(point.status, 0) << point.err;
  EXPECT_EQ(point.out, shortest(bd.latitude) + "," + shortest(bd.longitude) + "\n");

  const double metres = OrbCoorTransform::distanceByPoint(Coordinate{39.9042, 116.4074}, Coordinate{-33.8688, 151.2093});
  const ToolResult distance = runTool({"distance", "39.9042", "116.4074", "-33.8688", "151.2093"});
  ASSERT_EQ(distance.status, 0) << distance.err;
  EXPECT_EQ(distance.out, shortest(metres) + "\n");
  const ToolResult asJson = runTool({"distance", "39.9042", "116.4074", "-33.8688", "151.2093", "--json"});
  EXPECT_EQ(json::parse(asJson.out), (json{{"distance", metres}}));
}

}  // namespace
}  // namespace tovik::test
