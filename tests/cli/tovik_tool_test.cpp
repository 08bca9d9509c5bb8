// The `tovik` tool through the real binary: usage errors, the service calls against a
// loopback server, transforms against the library, and locate sessions.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/geoclue_world.h"
#include "support/test_server.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kTrackPath = "/location/hub/v1/track_points";
constexpr const char* kGeocodePath = "/location/scenario/v1/geocode";

const char* const kLocationJson = R"({"id": "R1", "asset": "A1", "location": {
  "timestamp": 1700000000000,
  "address": {"name": "北京市东城区", "context": [{"type": "city", "name": "北京市", "code": "110100"}]},
  "place": {"type": "poi", "name": "天安门", "distance": {"line": 12.5}},
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

const char* const kTwoPlacesJson = R"([
  {"id": "G1", "geoPoint": "116.397,39.908", "type": "poi", "name": "天安门", "code": "110101",
   "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12},
  {"id": "G2", "geoPoint": "116.391,39.906", "type": "poi", "name": "中山公园", "code": "110101",
   "categories": [{"id": "park", "name": "公园"}],
   "address": {"name": "东城区", "context": []}, "relevance": 1, "distance": 300.5}])";

std::vector<std::string> tovik(std::vector<std::string> args) {
  args.insert(args.begin(), std::string(TOVIK_BINARY_DIR) + "/tools/tovik/tovik");
  return args;
}

ChildResult runTool(std::vector<std::string> args, const std::string& input = "") {
  return runChild(tovik(std::move(args)), input);
}

std::string shortest(double value) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

double number(std::string_view text) {
  double value = std::nan("");
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

TEST(CliUsageTest, BadCommandLinesExitWithTwoAndSayWhichArgument) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "A subcommand is required"},
      {{"where"}, "tovik: unknown command 'where'"},
      {{"reverse", "north", "116.4"}, "tovik reverse: LAT: expected a number, got 'north'"},
      {{"reverse", "39.9", "1,5"}, "tovik reverse: LON: expected a number, got '1,5'"},
      {{"reverse", "inf", "116.4"}, "tovik reverse: LAT: expected a number, got 'inf'"},
      {{"reverse", "39.9"}, "LON is required"},
      {{"reverse", "39.9", "116.4", "--datum", "utm"}, "tovik reverse: --datum: unknown datum 'utm' (use wgs84, gcj02 or bd09)"},
      {{"distance", "1", "2", "3", "x"}, "tovik distance: LON2: expected a number, got 'x'"},
      {{"transform", "wgs84", "utm", "1", "2"}, "tovik transform: TO: unknown datum 'utm' (use wgs84, gcj02 or bd09)"},
      {{"transform", "wgs84", "gcj02", "39.9"}, "LON: missing"},
      {{"poi", "cafe", "--city", "北京"}, "--city-code is required"},
      {{"poi", "cafe", "--city", "北京", "--city-code", "110000", "--page-size", "ten"},
       "tovik poi: --page-size: expected a whole number, got 'ten'"},
      {{"nearby", "cafe", "--location", "116.4,39.9", "--radius", "3000000000"},
       "tovik nearby: --radius: 3000000000 is out of range"},
      {{"locate", "--count", "3"}, "--count requires --continuous"},
      {{"locate", "--continuous", "--count", "0"}, "tovik locate: --count: must be at least 1, got 0"},
      {{"locate", "--once", "--continuous"}, "--once excludes --continuous"},
      {{"locate", "--continuous", "--interval", "soon"}, "tovik locate: --interval: expected a number, got 'soon'"},
      {{"locate", "--source", "fix:39.9"}, "tovik locate: --source: fix takes LAT,LON[,ACCURACY]"},
      {{"version", "--agree"}, "--agree"},
  };
  for (const auto& [args, says] : cases) {
    const ChildResult result = runTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + result.err);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find(says), std::string::npos);
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  for (const std::string command : {"locate", "reverse", "geocode", "poi", "nearby", "transform", "distance", "version"}) {
    const ChildResult help = runTool({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find("Usage: tovik " + command), std::string::npos) << help.out;
  }
}

class CliServiceTest : public testing::Test {
 protected:
  std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.end(), {"--service", server.baseURL()});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  TestServer server;
};

// What the kit's model makes of an answer, one JSON document per result.
std::vector<json> modelDocuments(const std::string& answer) {
  const json parsed = json::parse(answer);
  if (parsed.is_object()) return {LocationRes::decode(parsed)->encode()};
  std::vector<json> documents;
  for (const auto& item : decodeGeocodeList(parsed)) documents.push_back(item->encode());
  return documents;
}

TEST_F(CliServiceTest, EachCallPrintsTheModelsJsonOneDocumentPerLine) {
  struct Case {
    std::vector<std::string> args;
    std::string method, path, answer;
    std::map<std::string, std::string> query;
  };
  const std::vector<Case> cases = {
      {{"reverse", "39.9087", "116.3975"}, "POST", kTrackPath, kLocationJson,
       {{"access_key", "AK"}, {"response_sprf", "gcj02"}}},
      {{"geocode", "天安门广场", "北京"}, "GET", kGeocodePath, kTwoPlacesJson,
       {{"access_key", "AK"}, {"address", "天安门广场"}, {"city", "北京"}}},
      {{"poi", "公园", "--city", "北京", "--city-code", "110000", "--page-index", "2", "--page-size", "5"},
       "GET", "/location/scenario/v1/placesearch", kTwoPlacesJson,
       {{"access_key", "PK"}, {"name", "公园"}, {"city", "北京"}, {"city_code", "110000"}, {"page_index", "2"},
        {"page_size", "5"}}},
      {{"nearby", "咖啡", "--location", "116.397,39.909", "--radius", "500", "--orderby", "distance"}, "GET",
       "/location/scenario/v1/nearbysearch", kTwoPlacesJson,
       {{"access_key", "PK"}, {"name", "咖啡"}, {"location", "116.397,39.909"}, {"radius", "500"},
        {"category", ""}, {"orderby", "distance"}, {"page_index", "1"}, {"page_size", "10"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    server.clearRecords();
    server.respond(c.method, c.path, CannedResponse::json(200, c.answer));
    const ChildResult result = runTool(with(c.args, {"--agree", "--key", "AK", "--poi-key", "PK", "--json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;  // no banner, no log
    const auto lines = result.outLines();
    const auto expected = modelDocuments(c.answer);
    ASSERT_EQ(lines.size(), expected.size()) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(json::parse(lines[i]), expected[i]) << lines[i];
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.lastRequest();
    EXPECT_EQ(request.method + " " + request.path, c.method + " " + c.path);
    for (const auto& [name, value] : c.query) EXPECT_EQ(request.queryValue(name), value) << name;
  }
}

// The kit declares the point of a reverse request as GCJ-02, whatever datum the user's is.
TEST_F(CliServiceTest, ReverseSendsThePointConvertedToGcj02) {
  using T = OrbCoorTransform;
  const Coordinate given{39.9087, 116.3975};
  const std::vector<std::pair<std::vector<std::string>, Coordinate>> cases = {
      {{}, T::transformFromWGSToGCJ(given)},
      {{"--datum", "wgs84"}, T::transformFromWGSToGCJ(given)},
      {{"--datum", "GCJ02"}, given},
      {{"--datum", "bd09"}, T::transformFromBaiduToGCJ(given)},
  };
  server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson));
  for (const auto& [datum, sent] : cases) {
    SCOPED_TRACE(testing::PrintToString(datum));
    server.clearRecords();
    std::vector<std::string> more = datum;
    more.insert(more.end(), {"--agree", "--key", "AK"});
    const ChildResult result = runTool(with({"reverse", "39.9087", "116.3975"}, more));
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(server.requestCount(), 1u);
    const json position = json::parse(server.lastRequest().body)["location"]["position"];
    EXPECT_EQ(position["spatialReference"], "gcj02");
    EXPECT_EQ(position["point"]["latitude"].get<double>(), sent.latitude);
    EXPECT_EQ(position["point"]["longitude"].get<double>(), sent.longitude);
  }
}

TEST_F(CliServiceTest, HumanOutputIsOneShortLinePerResultAndTheLogStaysOnStandardError) {
  server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson));
  const ChildResult reverse = runTool(with({"reverse", "39.9087", "116.3975"}, {"--agree", "--key", "AK"}));
  ASSERT_EQ(reverse.status, 0) << reverse.err;
  // Local time: the 14th or the 15th, depending on the zone.
  EXPECT_EQ(reverse.out.rfind("北京市东城区 | 天安门 (12.5) | 39.908000, 116.397000 | 2023-11-1", 0), 0u) << reverse.out;
  EXPECT_EQ(reverse.outLines().size(), 1u);

  server.respond("GET", kGeocodePath, CannedResponse::json(200, kTwoPlacesJson));
  const ChildResult logged = runTool(with({"geocode", "天安门", "北京"}, {"--agree", "--key", "AK", "--log"}));
  EXPECT_EQ(logged.out, "天安门 | 东城区 | 116.397,39.908 | 12\n中山公园 | 东城区 | 116.391,39.906 | 300.5\n");
  EXPECT_NE(logged.err.find("[Tovik] SDK版本: "), std::string::npos) << logged.err;
  EXPECT_NE(logged.err.find("请求URL：" + server.url(kGeocodePath) + "?"), std::string::npos) << logged.err;

  server.respond("GET", kGeocodePath, CannedResponse::json(200, "[]"));
  const ChildResult none = runTool(with({"geocode", "nowhere", "北京"}, {"--agree", "--key", "AK"}));
  EXPECT_EQ(none.status, 0);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(none.err, "no results\n");
}

TEST_F(CliServiceTest, KitErrorsExitWithOneAndTheKitsMessageOnStandardError) {
  server.respond("GET", kGeocodePath, CannedResponse::json(404, "{}"));
  const std::string closed = [] {
    TestServer gone;
    gone.stop();
    return std::to_string(gone.port());
  }();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {with({"geocode", "天安门", "北京"}, {"--key", "AK"}), "您未同意隐私政策\n"},
      {with({"geocode", "天安门", "北京"}, {"--agree"}), "您未配置 Appkey\n"},
      {with({"geocode", "天安门", "北京"}, {"--agree", "--key", "AK"}), "请求失败，状态码: 404\n"},
      {{"reverse", "39.9", "116.4", "--agree", "--key", "AK", "--service", "not a url"}, ""},
      {with({"locate"}, {"--agree", "--key", "AK", "--source", "gpsd:127.0.0.1:" + closed}),
       "定位失败：无法连接到 gpsd（127.0.0.1:" + closed + "）："},
      {with({"locate", "--continuous"}, {"--agree", "--key", "AK", "--source", "gpsd:127.0.0.1:" + closed}),
       "定位失败：无法连接到 gpsd"},
      {with({"locate"}, {"--agree", "--key", "AK", "--source", "nmea:/nonexistent/walk.nmea"}),
       "定位失败："},
      {{"locate", "--source", "fix:39.9,116.4", "--key", "AK"}, "您未同意隐私政策"},
  };
  for (const auto& [args, message] : cases) {
    const ChildResult result = runTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + result.err);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.rfind(message, 0), 0u);
  }
  EXPECT_EQ(server.requestCount(), 1u);  // only the 404 reached the service
}

TEST(CliTransformTest, BatchFormEqualsTheLibrarysBatchInEveryDirection) {
  using T = OrbCoorTransform;
  using Batch = std::function<bool(std::span<const Coordinate>, std::span<Coordinate>)>;
  const std::vector<std::tuple<const char*, const char*, Batch>> cases = {
      {"wgs84", "gcj02", [](auto in, auto out) { return T::transformFromWGSToGCJ(in, out); }},
      {"gcj02", "wgs84", [](auto in, auto out) { return T::transformFromGCJToWGS(in, out); }},
      {"gcj02", "bd09", [](auto in, auto out) { return T::transformFromGCJToBaidu(in, out); }},
      {"bd09", "gcj02", [](auto in, auto out) { return T::transformFromBaiduToGCJ(in, out); }},
      {"WGS84", "BD09", [](auto in, auto out) { return T::transformFromWGSToBaidu(in, out); }},
      {"bd09", "wgs84", [](auto in, auto out) { return T::transformFromBaiduToWGS(in, out); }},
      {"gcj02", "gcj02", [](auto in, auto out) { std::copy(in.begin(), in.end(), out.begin()); return true; }},
  };
  // A few thousand points over China and around it, some well outside the offset region.
  std::vector<Coordinate> points;
  std::string input;
  for (int i = 0; i < 5000; ++i) {
    points.push_back({-10.0 + 70.0 * ((i * 7919) % 5000) / 5000.0 + i * 1e-7,
                      60.0 + 90.0 * ((i * 104729) % 5000) / 5000.0 - i * 1e-7});
    input += shortest(points.back().latitude) + "," + shortest(points.back().longitude) + "\n";
  }
  for (const auto& [from, to, batch] : cases) {
    SCOPED_TRACE(std::string(from) + " -> " + to);
    std::vector<Coordinate> expected(points.size());
    ASSERT_TRUE(batch(points, expected));
    const ChildResult result = runTool({"transform", from, to}, input);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), points.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string_view line = lines[i];
      const auto comma = line.find(',');
      // Shortest round-trip text: reading it back gives the library's double exactly.
      ASSERT_EQ(number(line.substr(0, comma)), expected[i].latitude) << i << ": " << line;
      ASSERT_EQ(number(line.substr(comma + 1)), expected[i].longitude) << i << ": " << line;
    }
  }
}

TEST(CliTransformTest, KeepsLinesInPlaceStopsAtABadLineAndSinglePointsEqualTheLibrary) {
  const ChildResult tidy = runTool({"transform", "wgs84", "wgs84"}, " 39.9 , 116.4\r\n\n+31.2,121.5");
  ASSERT_EQ(tidy.status, 0) << tidy.err;
  EXPECT_EQ(tidy.out, "39.9,116.4\n\n31.2,121.5\n");

  const ChildResult bad = runTool({"transform", "wgs84", "wgs84"}, "1,2\n3,4\n39.9;116.4\n5,6\n");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "1,2\n3,4\n");
  EXPECT_EQ(bad.err, "tovik transform: line 3: expected LAT,LON, got '39.9;116.4'\n");

  const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  EXPECT_EQ(json::parse(runTool({"transform", "wgs84", "gcj02", "--json"}, "39.9,116.4\n").out),
            (json{{"latitude", gcj.latitude}, {"longitude", gcj.longitude}}));
  // --region precise leaves Hong Kong in WGS-84 and still converts Beijing; the default is the rectangle.
  const Coordinate hongKong = OrbCoorTransform::transformFromWGSToGCJ({22.2976, 114.1722});
  EXPECT_EQ(runTool({"transform", "wgs84", "gcj02", "22.2976", "114.1722"}).out,
            shortest(hongKong.latitude) + "," + shortest(hongKong.longitude) + "\n");
  EXPECT_EQ(runTool({"transform", "--region", "precise", "wgs84", "gcj02"}, "22.2976,114.1722\n39.9,116.4\n").out,
            "22.2976,114.1722\n" + shortest(gcj.latitude) + "," + shortest(gcj.longitude) + "\n");
  EXPECT_EQ(runTool({"transform", "--region", "square", "wgs84", "gcj02", "1", "2"}).status, 2);
  const Coordinate bd = OrbCoorTransform::transformFromGCJToBaidu({39.908, 116.397});
  EXPECT_EQ(runTool({"transform", "gcj02", "bd09", "39.908", "116.397"}).out,
            shortest(bd.latitude) + "," + shortest(bd.longitude) + "\n");
  const double metres = OrbCoorTransform::distanceByPoint(Coordinate{39.9042, 116.4074}, Coordinate{-33.8688, 151.2093});
  EXPECT_EQ(runTool({"distance", "39.9042", "116.4074", "-33.8688", "151.2093"}).out, shortest(metres) + "\n");
  EXPECT_EQ(json::parse(runTool({"distance", "39.9042", "116.4074", "-33.8688", "151.2093", "--json"}).out),
            (json{{"distance", metres}}));
}

// The kit answers from the service when this machine has a route out, and locally (the fix
// in GCJ-02, stamped now) when it has none; the tool runs on the same machine.
class CliLocateTest : public CliServiceTest {
 protected:
  void SetUp() override { server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson)); }

  std::vector<std::string> locate(std::vector<std::string> more) {
    more.insert(more.end(), {"--agree", "--key", "AK", "--json"});
    return with({"locate"}, more);
  }

  // Checks printed results for a fix at `latitude`, `longitude` (WGS-84) and, online, what
  // the service was sent.
  void expectResultsFor(const ChildResult& result, std::size_t count, double latitude, double longitude) {
    ASSERT_EQ(result.outLines().size(), count) << result.out << result.err;
    for (const auto& line : result.outLines()) {
      const json printed = json::parse(line);
      if (online) {
        EXPECT_EQ(printed, LocationRes::decode(json::parse(kLocationJson))->encode());
        continue;
      }
      const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ({latitude, longitude});
      EXPECT_EQ(printed["location"]["position"]["point"]["latitude"].get<double>(), gcj.latitude);
      EXPECT_EQ(printed["location"]["position"]["point"]["longitude"].get<double>(), gcj.longitude);
    }
    if (online) {
      const json point = json::parse(server.lastRequest().body)["location"]["gnss"]["point"];
      EXPECT_NEAR(point["latitude"].get<double>(), latitude, 1e-9);
      EXPECT_NEAR(point["longitude"].get<double>(), longitude, 1e-9);
    }
  }

  const bool online = NetworkChecker::isNetworkAvailable();
};

TEST_F(CliLocateTest, FixAndNmeaSourcesPrintTheirResultsAndCountEndsAContinuousSession) {
  const std::string log = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";
  const std::vector<std::tuple<std::vector<std::string>, std::size_t, double, double>> cases = {
      {{"--once", "--source", "fix:39.9042,116.4074,8"}, 1, 39.9042, 116.4074},
      {{"--fast", "--source", "fix:39.9042,116.4074,8"}, 1, 39.9042, 116.4074},
      {{"--continuous", "--interval", "0.05", "--count", "3", "--source", "fix:39.9042,116.4074"}, 3, 39.9042, 116.4074},
      {{"--source", "nmea:" + log + "@0"}, 1, 39.9087, 116.3975},  // the log's first epoch
  };
  for (const auto& [args, count, latitude, longitude] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    server.clearRecords();
    const ChildResult result = runChild(tovik(locate(args)));
    ASSERT_EQ(result.status, 0) << result.err;
    expectResultsFor(result, count, latitude, longitude);
    if (online && args.back().ends_with(",8")) {
      EXPECT_EQ(server.requestCount(), 1u);
      EXPECT_EQ(json::parse(server.lastRequest().body)["location"]["gnss"]["accuracy"], 8.0);
    }
  }
}

// GeoClue2 on a bus of the test's own, named by DBUS_SYSTEM_BUS_ADDRESS; `auto` (the
// default) finds it when gpsd has no receiver.
TEST_F(CliLocateTest, GeoclueAndAutoSourcesLocateThroughGeoclue) {
  const std::string log = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";
  GeoclueWorld world(log);
  ASSERT_EQ(world.problem(), "");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--source", "geoclue"}, std::vector<std::string>{}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    auto argv = tovik(locate(args));
    argv.insert(argv.begin(), {"/usr/bin/env", "DBUS_SYSTEM_BUS_ADDRESS=" + world.busAddress()});
    const ChildResult result = runChild(argv);
    ASSERT_EQ(result.status, 0) << result.err << world.geoclueLog();
    ASSERT_EQ(result.outLines().size(), 1u) << result.out;
    // Online the kit sends the fix itself; offline it prints it, converted to GCJ-02.
    const json point = online ? json::parse(server.lastRequest().body)["location"]["gnss"]["point"]
                              : json::parse(result.outLines().front())["location"]["position"]["point"];
    const auto epochs = GeoclueWorld::epochsOf(log);
    const bool fromLog = std::any_of(epochs.begin(), epochs.end(), [&](const auto& e) {
      return std::abs(e.latitude - point["latitude"].get<double>()) < (online ? 1e-7 : 1e-2);
    });
    EXPECT_TRUE(fromLog) << point;
  }
}

TEST_F(CliLocateTest, CtrlCEndsAContinuousSessionCleanly) {
  // A long interval leaves the tool with nothing to do but wait: the signal alone wakes it.
  for (const char* interval : {"0.05", "3600"}) {
    SCOPED_TRACE(interval);
    ChildProcess tool(tovik(locate({"--continuous", "--interval", interval, "--source", "fix:39.9042,116.4074"})));
    ASSERT_TRUE(tool.waitForLines(interval == std::string("3600") ? 1 : 2, 30s));
    tool.signal(SIGINT);
    const ChildResult result = tool.finish(30s);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    expectResultsFor(result, result.outLines().size(), 39.9042, 116.4074);
  }
}

TEST_F(CliServiceTest, SigtermEndsACallWaitingForItsAnswerWithStatus130) {
  server.respond("POST", kTrackPath, CannedResponse::delayed(60s, 200, kLocationJson));
  ChildProcess tool(tovik(with({"reverse", "39.9", "116.4"}, {"--agree", "--key", "AK"})));
  ASSERT_TRUE(server.waitForRequests(1, 30s));
  tool.signal(SIGTERM);
  const ChildResult result = tool.finish(30s);
  EXPECT_EQ(result.status, 130) << result.err;
  EXPECT_EQ(result.err, "interrupted\n");
  EXPECT_TRUE(result.out.empty()) << result.out;
}

}  // namespace
}  // namespace tovik::test
