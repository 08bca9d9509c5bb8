// The `tovik` tool through the real binary. data/runs.json holds the runs: the arguments, what
// the loopback server answers, the exit status, what the tool prints and what the server was
// sent. Below them, the batch transform against the library and the reading of --source.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/file_text.h"
#include "support/geoclue_world.h"
#include "support/test_server.h"
#include "tools/tovik/location_source.h"
#include "tovik/coord/datum.h"
#include "tovik/network/network_checker.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A file of data/ beside this one.
std::string readData(const std::string& name) { return fileText(TOVIK_TESTS_DIR "/cli/data/" + name); }

// The local time the tool prints is China's, whatever this machine's zone.
std::vector<std::string> tovik(std::vector<std::string> args) {
  args.insert(args.begin(), {"/usr/bin/env", "TZ=Asia/Shanghai", std::string(TOVIK_BINARY_DIR) + "/tools/tovik/tovik"});
  return args;
}

// What a run printed on one stream: `<stream>_has` each text somewhere, `<stream>_file` exactly
// as that file, `<stream>` exactly (empty when absent).
void expectStream(const json& run, const std::string& stream, const std::string& printed, const auto& fill) {
  SCOPED_TRACE(stream + ":\n" + printed);
  if (run.contains(stream + "_has")) {
    for (const std::string text : run[stream + "_has"]) EXPECT_NE(printed.find(fill(text)), std::string::npos) << text;
  } else {
    EXPECT_EQ(printed, run.contains(stream + "_file") ? readData(run[stream + "_file"]) : fill(run.value(stream, "")));
  }
}

// Every field of `expected` (JSON pointer -> value) in `document`.
void expectFields(const json& expected, const json& document) {
  for (const auto& [pointer, value] : expected.items()) {
    EXPECT_EQ(document.at(json::json_pointer(pointer)), value) << pointer;
  }
}

class CliRun : public testing::TestWithParam<json> {};

// A locate session's results come from the service when this machine has a route out, and
// from the kit itself (the fix in GCJ-02, stamped now) when it has none: a run's "online" or
// "offline" fields then apply.
TEST_P(CliRun, PrintsSendsAndExitsAsTheTableSays) {
  json run = GetParam();
  run.merge_patch(run.value(NetworkChecker::isNetworkAvailable() ? "online" : "offline", json::object()));
  TestServer server;
  TestServer gone;  // its port is one nobody listens on
  gone.stop();
  const std::pair<std::string, std::string> places[] = {
      {"{data}", TOVIK_TEST_DATA_DIR}, {"{tests}", TOVIK_TESTS_DIR}, {"{service}", server.baseURL()},
      {"{closed}", std::to_string(gone.port())}};
  const auto fill = [&](std::string text) {
    for (const auto& [from, to] : places) {
      for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
      }
    }
    return text;
  };
  for (const json& answer : run.value("serve", json::array())) {
    const std::string body = answer.contains("body_file") ? readData(answer["body_file"]) : answer.value("body", "");
    server.respond(answer["method"], answer["path"],
                   CannedResponse::delayed(answer.value("delay", 0) * 1s, answer.value("status", 200), body));
  }
  std::vector<std::string> argv = tovik({});
  for (const std::string arg : run["args"]) argv.push_back(fill(arg));
  // GeoClue2 on a bus of the run's own, named by DBUS_SYSTEM_BUS_ADDRESS, replaying a log.
  std::optional<GeoclueWorld> world;
  if (run.contains("geoclue_log")) {
    world.emplace(fill(run["geoclue_log"]));
    ASSERT_EQ(world->problem(), "");
    argv.insert(argv.begin() + 1, "DBUS_SYSTEM_BUS_ADDRESS=" + world->busAddress());
  }
  ChildProcess tool(argv, run.value("stdin", ""));
  if (run.contains("signal")) {
    ASSERT_TRUE(run.contains("signal_after_lines") ? tool.waitForLines(run["signal_after_lines"], 30s)
                                                   : server.waitForRequests(run["signal_after_requests"], 30s));
    tool.signal(run["signal"] == "SIGINT" ? SIGINT : SIGTERM);
  }
  const ChildResult result = tool.finish(60s);
  EXPECT_EQ(result.status, run.value("status", 0)) << result.err << (world ? world->geoclueLog() : "");
  expectStream(run, "err", result.err, fill);
  // A session's lines are checked one by one: each as that file, or each field of `each_line`.
  if (!run.contains("each_line") && !run.contains("each_line_file")) expectStream(run, "out", result.out, fill);
  const auto lines = result.outLines();
  EXPECT_EQ(lines.size(), run.value("lines", lines.size())) << result.out;
  for (const std::string& line : lines) {
    if (run.contains("each_line_file")) {
      EXPECT_EQ(line + "\n", readData(run["each_line_file"]));
    }
    if (run.contains("each_line")) expectFields(run["each_line"], json::parse(line));
  }
  // A latitude (`pointer` in what was printed, or in the request) of one of the log's epochs.
  if (const json epoch = run.value("epoch_at", json()); !epoch.is_null()) {
    const json document = json::parse(epoch["in"] == "request" ? server.lastRequest().body : result.outLines().at(0));
    const double latitude = document.at(json::json_pointer(epoch["pointer"]));
    EXPECT_TRUE(std::ranges::any_of(GeoclueWorld::epochsOf(fill(run["geoclue_log"])), [&](const auto& e) {
      return std::abs(e.latitude - latitude) < epoch["within"].get<double>();
    })) << document;
  }
  EXPECT_EQ(server.requestCount(), run.value("requests", server.requestCount()));
  if (json sent = run.value("sent", json()); !sent.is_null()) {
    const RecordedRequest request = server.lastRequest();
    for (const auto& [name, value] : sent["query"].items()) EXPECT_EQ(request.queryValue(name), value) << name;
    if (sent.contains("body")) expectFields(sent["body"], json::parse(request.body));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CliRun, testing::ValuesIn(json::parse(readData("runs.json")).get<std::vector<json>>()),
                         [](const auto& info) { return info.param["name"].template get<std::string>(); });

// The tool reads and prints the points; the conversions are the library's (checked in
// tests/coord, every direction against reference values).
TEST(CliTransformTest, BatchFormEqualsTheLibrarysBatchInEveryDirection) {
  const std::pair<const char*, const char*> directions[] = {{"wgs84", "gcj02"}, {"gcj02", "wgs84"}, {"gcj02", "bd09"},
                                                            {"bd09", "gcj02"},  {"WGS84", "BD09"},  {"bd09", "wgs84"},
                                                            {"gcj02", "gcj02"}};
  // A few thousand points over China and around it, some well outside the offset region.
  std::vector<Coordinate> points;
  std::string input;
  for (int i = 0; i < 5000; ++i) {
    points.push_back({-10.0 + 70.0 * ((i * 7919) % 5000) / 5000.0 + i * 1e-7,
                      60.0 + 90.0 * ((i * 104729) % 5000) / 5000.0 - i * 1e-7});
    input += json(points.back().latitude).dump() + "," + json(points.back().longitude).dump() + "\n";
  }
  for (const auto& [from, to] : directions) {
    SCOPED_TRACE(std::string(from) + " -> " + to);
    std::vector<Coordinate> expected(points.size());
    ASSERT_TRUE(convertDatum(points, expected, *datumNamed(from), *datumNamed(to)));
    const ChildResult result = runChild(tovik({"transform", from, to}), input);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), points.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      // Shortest round-trip text: reading it back gives the library's double exactly.
      const auto comma = lines[i].find(',');
      ASSERT_EQ(std::stod(lines[i].substr(0, comma)), expected[i].latitude) << i << ": " << lines[i];
      ASSERT_EQ(std::stod(lines[i].substr(comma + 1)), expected[i].longitude) << i << ": " << lines[i];
    }
  }
}

// Each accepted form of --source and what it reads as (data/sources.json); the refused ones
// are runs of the table.
TEST(LocationSourceTest, ReadsEveryForm) {
  for (const json& c : json::parse(readData("sources.json"))) {
    SCOPED_TRACE(c.dump());
    cli::LocationSource expected = cli::AutoSource{};
    if (c.contains("geoclue")) expected = cli::GeoclueSource{};
    if (c.contains("gpsd")) expected = cli::GpsdSource{c["gpsd"]["host"], c["gpsd"]["port"]};
    if (c.contains("nmea")) expected = cli::NmeaSource{c["nmea"]["path"], c["nmea"]["speed"]};
    if (c.contains("fix")) expected = cli::FixSource{c["fix"]["latitude"], c["fix"]["longitude"], c["fix"]["accuracy"]};
    EXPECT_TRUE(cli::parseLocationSource(c["text"].get<std::string>()) == expected);
  }
}

}  // namespace
}  // namespace tovik::test
