// `tovik locate` through the real binary: sources, session kinds, Ctrl-C, errors.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/tool_process.h"
#include "support/test_server.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/model/location_res.h"
#include "tovik/network/network_checker.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kTrackPath = "/location/hub/v1/track_points";

const char* const kLocationJson = R"({"id": "R1", "asset": "A1", "location": {
  "timestamp": 1700000000000,
  "position": {"point": {"longitude": 116.397, "latitude": 39.908}}}})";

// The kit answers from the service when this machine has a route out, and locally (the fix
// in GCJ-02, stamped now) when it has none; the tool runs on the same machine.
class CliLocateTest : public testing::Test {
 protected:
  void SetUp() override {
    online = NetworkChecker::isNetworkAvailable();
    server.respond("POST", kTrackPath, CannedResponse::json(200, kLocationJson));
  }

  std::vector<std::string> locate(std::vector<std::string> more) {
    std::vector<std::string> args = {"locate", "--service", server.baseURL(), "--agree", "--key", "AK", "--json"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // Checks one printed result for a fix at `latitude`, `longitude` (WGS-84).
  void expectResultFor(const std::string& line, double latitude, double longitude) {
    const json printed = json::parse(line);
    if (online) {
      EXPECT_EQ(printed, LocationRes::decode(json::parse(kLocationJson))->encode());
      return;
    }
    const Coordinate gcj = OrbCoorTransform::transformFromWGSToGCJ({latitude, longitude});
    EXPECT_EQ(printed["location"]["position"]["point"]["latitude"].get<double>(), gcj.latitude);
    EXPECT_EQ(printed["location"]["position"]["point"]["longitude"].get<double>(), gcj.longitude);
  }

  // The fix the service was sent with the last request.
  std::pair<double, double> sentFix() {
    const json body = json::parse(server.lastRequest().body);
    const auto& point = body["location"]["gnss"]["point"];
    return {point["latitude"].get<double>(), point["longitude"].get<double>()};
  }

  bool online = false;
  TestServer server;
};

TEST_F(CliLocateTest, SingleAndFastSessionsPrintOneResultForAFixedPlace) {
  for (const std::string kind : {"--once", "--fast"}) {
    SCOPED_TRACE(kind);
    server.clearRecords();
    const ToolResult result = runTool(locate({kind, "--source", "fix:39.9042,116.4074,8"}));
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.outLines().size(), 1u) << result.out;
    expectResultFor(result.outLines()[0], 39.9042, 116.4074);
    if (online) {
      ASSERT_EQ(server.requestCount(), 1u);
      EXPECT_EQ(sentFix(), std::make_pair(39.9042, 116.4074));
      EXPECT_EQ(json::parse(server.lastRequest().body)["location"]["gnss"]["accuracy"], 8.0);
    }
  }
}

TEST_F(CliLocateTest, ContinuousSessionStopsAfterCount) {
  const ToolResult result =
      runTool(locate({"--continuous", "--interval", "0.05", "--count", "3", "--source", "fix:39.9042,116.4074"}));
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.outLines().size(), 3u) << result.out;
  for (const auto& line : result.outLines()) expectResultFor(line, 39.9042, 116.4074);
}

TEST_F(CliLocateTest, ReplaysAnNmeaLog) {
  const std::string log = std::string(TOVIK_TEST_DATA_DIR) + "/beijing_walk.nmea";
  const ToolResult result = runTool(locate({"--source", "nmea:" + log + "@0"}));
  ASSERT_EQ(result.status, 0) << result.err;
  ASSERT_EQ(result.outLines().size(), 1u) << result.out;
  // The log's first epoch.
  expectResultFor(result.outLines()[0], 39.9087, 116.3975);
  if (online) {
    const auto [latitude, longitude] = sentFix();
    EXPECT_NEAR(latitude, 39.9087, 1e-9);
    EXPECT_NEAR(longitude, 116.3975, 1e-9);
  }
}

TEST_F(CliLocateTest, CtrlCEndsAContinuousSessionCleanly) {
  ToolProcess tool(locate({"--continuous", "--interval", "0.05", "--source", "fix:39.9042,116.4074"}));
  ASSERT_TRUE(tool.waitForLines(2, 30s));
  tool.signal(SIGINT);
  const ToolResult result = tool.finish(30s);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.err.empty()) << result.err;
  for (const auto& line : result.outLines()) expectResultFor(line, 39.9042, 116.4074);
}

TEST_F(CliLocateTest, SourceFailuresExitWithOneAndTheKitsMessage) {
  const std::string closed = [] {
    TestServer gone;
    const int port = gone.port();
    gone.stop();
    return std::to_string(port);
  }();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {locate({"--source", "gpsd:127.0.0.1:" + closed}), "定位失败：无法连接到 gpsd（127.0.0.1:" + closed + "）："},
      {locate({"--continuous", "--source", "gpsd:127.0.0.1:" + closed}), "定位失败：无法连接到 gpsd"},
      {locate({"--source", "nmea:/nonexistent/walk.nmea"}), "定位失败：cannot open NMEA log \"/nonexistent/walk.nmea\""},
      {{"locate", "--source", "fix:39.9,116.4", "--key", "AK"}, "您未同意隐私政策"},
  };
  for (const Case& c : cases) {
    const ToolResult result = runTool(c.args);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err.rfind(c.message, 0), 0u) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
}  // namespace tovik::test
