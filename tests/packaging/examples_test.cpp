// Every example, built as the kit's users build it, run against the loopback server (or
// offline) and judged by what it prints and how it exits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_server.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik::test {
namespace {

constexpr const char* kTrackPath = "/location/hub/v1/track_points";
constexpr const char* kPlaceSearchPath = "/location/scenario/v1/placesearch";
constexpr const char* kNearbySearchPath = "/location/scenario/v1/nearbysearch";

constexpr const char* kLocationJson = R"({"id": "R1", "asset": "A1", "location": {
  "timestamp": 1700000000000,
  "address": {"name": "北京市东城区", "context": [{"type": "district", "name": "东城区", "code": "110101"}]},
  "place": {"type": "poi", "name": "天安门", "distance": {"line": 12.5}},
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

constexpr const char* kPlacesJson = R"([
  {"id": "G1", "geoPoint": "116.397,39.908", "type": "poi", "name": "天安门", "code": "110101",
   "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12},
  {"id": "G2", "geoPoint": "116.391,39.906", "type": "poi", "name": "中山公园", "code": "110101",
   "categories": [{"id": "park", "name": "公园"}],
   "address": {"name": "东城区", "context": []}, "relevance": 1, "distance": 300.5}])";

std::string example(const std::string& name) { return std::string(TOVIK_EXAMPLES_BIN_DIR) + "/example_" + name; }

std::string dataFile(const std::string& name) { return std::string(TOVIK_TEST_DATA_DIR) + "/" + name; }

// Standard output and error together, as the user sees them.
ChildResult run(std::vector<std::string> argv) {
  ChildResult result = runChild(std::move(argv));
  result.out += result.err;
  return result;
}

struct ExampleCase {
  std::string name;
  std::vector<std::string> argv;  // "{url}" stands for the loopback server's address
  int status;
  std::vector<std::string> expected;  // lines or fragments the output must hold
};

void PrintTo(const ExampleCase& c, std::ostream* os) { *os << c.name; }

class ExampleRun : public testing::TestWithParam<ExampleCase> {
 protected:
  void SetUp() override {
    server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson));
    server.respond("GET", kPlaceSearchPath, CannedResponse::json(200, kPlacesJson));
    server.respond("GET", kNearbySearchPath, CannedResponse::json(200, kPlacesJson));
  }

  std::vector<std::string> withURL(std::vector<std::string> argv) const {
    std::replace(argv.begin(), argv.end(), std::string("{url}"), server.baseURL());
    return argv;
  }

  TestServer server;
};

TEST_P(ExampleRun, PrintsWhatItFound) {
  const ExampleCase& c = GetParam();
  const ChildResult result = run(withURL(c.argv));
  EXPECT_EQ(result.status, c.status) << result.out;
  for (const auto& fragment : c.expected) {
    EXPECT_NE(result.out.find(fragment), std::string::npos) << "missing \"" << fragment << "\" in:\n"
                                                              << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleRun,
    testing::Values(
        ExampleCase{"first_fix_offline", {example("first_fix"), dataFile("beijing_walk.nmea")}, 0, {"result 5: "}},
        ExampleCase{"single_fix_offline", {example("single_fix"), dataFile("beijing_walk.nmea")}, 0, {"fix: 39.91"}},
        ExampleCase{"single_fix_online",
                    {example("single_fix"), dataFile("beijing_walk.nmea"), "{url}"},
                    0,
                    {"fix: 39.908000, 116.397000", "address: 北京市东城区"}},
        ExampleCase{"reverse_geocode",
                    {example("reverse_geocode"), "{url}", "39.9087", "116.3975"},
                    0,
                    {"address: 北京市东城区", "district: 东城区 (110101)", "nearest place: 天安门, 12.5 away"}},
        ExampleCase{"place_search",
                    {example("place_search"), "{url}", "公园", "北京"},
                    0,
                    {"places:\n  天安门 [116.397,39.908] 东城区\n  中山公园 [116.391,39.906] 东城区 (公园)", "nearby:"}},
        ExampleCase{"place_search_usage", {example("place_search")}, 2, {"usage:"}},
        ExampleCase{"transform_track_missing_file", {example("transform_track"), "no/such.csv"}, 1, {"no/such.csv"}}),
    [](const auto& info) { return info.param.name; });

TEST(ExampleErrors, ServiceErrorsReachTheDelegateAndTheExitCode) {
  TestServer server;
  server.respond("POST", kTrackPath, CannedResponse::json(500, ""));
  const ChildResult result = run({example("reverse_geocode"), server.baseURL()});
  EXPECT_EQ(result.status, 1) << result.out;
  EXPECT_NE(result.out.find("error: "), std::string::npos) << result.out;
}

std::string formatted(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.7f", value);
  return text;
}

TEST(TransformTrack, ConvertsEveryPointAsTheKitDoes) {
  const ChildResult result = run({example("transform_track"), dataFile("beijing_walk.csv")});
  ASSERT_EQ(result.status, 0) << result.out;
  const auto lines = result.outLines();
  ASSERT_EQ(lines.size(), 62u);  // header, 60 points, summary
  EXPECT_EQ(lines.front(), "time,wgs_latitude,wgs_longitude,gcj_latitude,gcj_longitude,bd_latitude,bd_longitude");
  EXPECT_EQ(lines.back().rfind("# 60 points, ", 0), 0u) << lines.back();

  // The first point, converted here through the C++ API.
  const Coordinate wgs{.latitude = 39.9087, .longitude = 116.3975};
  const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ(wgs);
  const Coordinate bd = OrbCoorTransform::transformFromGCJToBaidu(gcj);
  EXPECT_EQ(lines[1], "02:00:00," + formatted(wgs.latitude) + "," + formatted(wgs.longitude) + "," +
                          formatted(gcj.latitude) + "," + formatted(gcj.longitude) + "," + formatted(bd.latitude) +
                          "," + formatted(bd.longitude));
}

TEST(TransformTrack, NamesTheBadLine) {
  const auto path = std::filesystem::temp_directory_path() / ("tovik_bad_track_" + std::to_string(::getpid()) + ".csv");
  std::ofstream(path) << "time,latitude,longitude\n02:00:00,39.9,116.4\n02:00:01,north,116.4\n";
  const ChildResult result = run({example("transform_track"), path.string()});
  std::filesystem::remove(path);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find(path.string() + ":3: expected \"time,latitude,longitude\""), std::string::npos)
      << result.out;
}

TEST(PythonExample, ServesADynamicLanguageThroughTheCInterface) {
  ASSERT_FALSE(std::string(TOVIK_PYTHON3).empty()) << "python3 was not found at configuration (package python3)";
  if (TOVIK_SANITIZED) {
    GTEST_SKIP() << "a sanitized libtovik.so cannot be loaded into an unsanitized interpreter";
  }
  TestServer server;
  server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson));
  server.respond("GET", kPlaceSearchPath, CannedResponse::json(200, kPlacesJson));
  const ChildResult result = run({TOVIK_PYTHON3, std::string(TOVIK_SOURCE_DIR) + "/examples/python/tovik_example.py",
                                  "--lib", TOVIK_SHARED_LIBRARY, "--service", server.baseURL()});
  EXPECT_EQ(result.status, 0) << result.out;
  for (const std::string fragment :
       {"Tovik " TOVIK_EXPECTED_VERSION, "-> GCJ-02 39.910126, 116.403743", "Beijing to Shanghai: 1071.3 km",
        "address: 北京市东城区", "  district: 东城区", "places:\n  天安门 [116.397,39.908]\n  中山公园"}) {
    EXPECT_NE(result.out.find(fragment), std::string::npos) << "missing \"" << fragment << "\" in:\n"
                                                              << result.out;
  }
  ASSERT_TRUE(server.waitForRequests(2));
  EXPECT_EQ(server.requests()[0].queryValue("access_key"), "demo");
}

}  // namespace
}  // namespace tovik::test
