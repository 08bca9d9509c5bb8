// The four service calls through the real binary against a loopback server.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/tool_process.h"
#include "support/test_server.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"

namespace tovik::test {
namespace {

using nlohmann::json;

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

// What the kit's model makes of an answer, one JSON document per result.
std::vector<json> modelDocuments(const std::string& answer) {
  const json parsed = json::parse(answer);
  if (parsed.is_object()) {
    return {LocationRes::decode(parsed)->encode()};
  }
  std::vector<json> documents;
  for (const auto& item : decodeGeocodeList(parsed)) documents.push_back(item->encode());
  return documents;
}

class CliServiceTest : public testing::Test {
 protected:
  std::vector<std::string> with(std::vector<std::string> args, std::vector<std::string> more = {}) {
    args.insert(args.end(), {"--service", server.baseURL()});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  TestServer server;
};

TEST_F(CliServiceTest, EachCallPrintsTheModelsJsonOneDocumentPerLine) {
  struct Case {
    std::vector<std::string> args;
    std::string method;
    std::string path;
    std::string answer;
    std::map<std::string, std::string> query;
  };
  const std::vector<Case> cases = {
      {{"reverse", "39.9087", "116.3975"}, "POST", "/location/hub/v1/track_points", kLocationJson,
       {{"access_key", "AK"}, {"response_sprf", "gcj02"}}},
      {{"geocode", "天安门广场", "北京"}, "GET", "/location/scenario/v1/geocode", kTwoPlacesJson,
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
    const ToolResult result = runTool(with(c.args, {"--agree", "--key", "AK", "--poi-key", "PK", "--json"}));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;  // no banner, no log
    const auto lines = result.outLines();
    const auto expected = modelDocuments(c.answer);
    ASSERT_EQ(lines.size(), expected.size()) << result.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(json::parse(lines[i]), expected[i]) << lines[i];
    }
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest request = server.lastRequest();
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.path, c.path);
    for (const auto& [name, value] : c.query) {
      EXPECT_EQ(request.queryValue(name), value) << name;
    }
  }
}

TEST_F(CliServiceTest, HumanOutputIsOneShortLinePerResultAndTheLogStaysOnStandardError) {
  server.respond("POST", "/location/hub/v1/track_points", CannedResponse::json(200, kLocationJson));
  const ToolResult reverse = runTool(with({"reverse", "39.9087", "116.3975", "--agree", "--key", "AK"}));
  ASSERT_EQ(reverse.status, 0) << reverse.err;
  ASSERT_EQ(reverse.outLines().size(), 1u);
  // Local time: the 14th or the 15th, depending on the zone.
  EXPECT_EQ(reverse.outLines()[0].rfind("北京市东城区 | 天安门 (12.5) | 39.908000, 116.397000 | 2023-11-1", 0), 0u)
      << reverse.out;

  server.respond("GET", "/location/scenario/v1/geocode", CannedResponse::json(200, kTwoPlacesJson));
  const ToolResult geocode = runTool(with({"geocode", "天安门", "北京", "--agree", "--key", "AK"}));
  ASSERT_EQ(geocode.status, 0) << geocode.err;
  EXPECT_EQ(geocode.outLines(), (std::vector<std::string>{"天安门 | 东城区 | 116.397,39.908 | 12",
                                                          "中山公园 | 东城区 | 116.391,39.906 | 300.5"}));

  // The kit's log (and banner) go to standard error, leaving the results alone.
  const ToolResult logged = runTool(with({"geocode", "天安门", "北京", "--agree", "--key", "AK", "--log"}));
  EXPECT_EQ(logged.out, geocode.out);
  EXPECT_NE(logged.err.find("[Tovik] SDK版本: "), std::string::npos) << logged.err;
  EXPECT_NE(logged.err.find("请求URL：" + server.baseURL() + "/location/scenario/v1/geocode?"), std::string::npos)
      << logged.err;

  server.respond("GET", "/location/scenario/v1/geocode", CannedResponse::json(200, "[]"));
  const ToolResult none = runTool(with({"geocode", "nowhere", "北京", "--agree", "--key", "AK"}));
  EXPECT_EQ(none.status, 0);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(none.err, "no results\n");
}

TEST_F(CliServiceTest, KitErrorsExitWithOneAndTheKitsMessage) {
  server.respond("GET", "/location/scenario/v1/geocode", CannedResponse::json(404, "{}"));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {with({"geocode", "天安门", "北京", "--key", "AK"}), "您未同意隐私政策\n"},
      {with({"geocode", "天安门", "北京", "--agree"}), "您未配置 Appkey\n"},
      {with({"geocode", "天安门", "北京", "--agree", "--key", "AK"}), "请求失败，状态码: 404\n"},
      {{"reverse", "39.9", "116.4", "--agree", "--key", "AK", "--service", "not a url"}, ""},
  };
  for (const Case& c : cases) {
    const ToolResult result = runTool(c.args);
    EXPECT_EQ(result.status, 1) << c.args[0] << " " << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_FALSE(result.err.empty());
    if (!c.message.empty()) {
      EXPECT_EQ(result.err, c.message);
    }
  }
}

}  // namespace
}  // namespace tovik::test
