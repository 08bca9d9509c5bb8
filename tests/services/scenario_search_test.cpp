// Forward geocoding and the two place searches against a real loopback server.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "services/service_test_env.h"
#include "tovik/client/sdk_log.h"

namespace tovik::testing_support {
namespace {

using test::CannedResponse;
using Query = std::multimap<std::string, std::string>;
using Call = std::function<void(TkClientLocation&)>;

const Call kGeocode = [](TkClientLocation& f) { f.getGeocCode("北京市东城区", "北京"); };
const Call kPlaceSearch = [](TkClientLocation& f) { f.poiKeySearch("咖啡", "110100", "北京", 1, 10); };
const Call kNearbySearch = [](TkClientLocation& f) {
  f.poiNearbySearch("咖啡", "116.397,39.908", 500, "餐饮", "distance", 1, 10);
};

/// Logs a marker when a result arrives, so the log shows where the callback ran.
class MarkingDelegate : public RecordingDelegate {
 public:
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    sdkLog("<callback>");
    RecordingDelegate::onReceivedGeocodeWithResult(result);
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    sdkLog("<callback>");
    RecordingDelegate::onReceivedPoiSearchWithResult(result);
  }
};

class ScenarioSearchTest : public ServiceTestEnvironment {
 protected:
  void SetUp() override {
    ServiceTestEnvironment::SetUp();
    answerAll(CannedResponse::json(200, kTwoPlacesJson));
  }

  void answerAll(const CannedResponse& response) {
    for (const char* path : {kGeocodePath, kPlaceSearchPath, kNearbySearchPath}) {
      server.respond("GET", path, response);
    }
  }
};

struct QueryRow {
  const char* what;
  Call call;
  std::string path;
  Query query;
};

TEST_F(ScenarioSearchTest, QueryItemsArriveIntact) {
  const QueryRow rows[] = {
      {"geocode, awkward text, empty city",
       [](TkClientLocation& f) { f.getGeocCode("东城区 A&B=C+D%20", ""); }, kGeocodePath,
       {{"access_key", "AK"}, {"address", "东城区 A&B=C+D%20"}, {"city", ""}}},
      {"keyword search", [](TkClientLocation& f) { f.poiKeySearch("咖啡 & 茶", "", "北京", -1, 0); },
       kPlaceSearchPath,
       {{"access_key", "AK"}, {"name", "咖啡 & 茶"}, {"city", "北京"}, {"city_code", ""}, {"page_index", "-1"},
        {"page_size", "0"}}},
      {"nearby search sends its keywords as name",
       [](TkClientLocation& f) {
         f.poiNearbySearch("coffee", "116.397,39.908", -2147483647 - 1, "", "distance desc", 3, 2147483647);
       },
       kNearbySearchPath,
       {{"access_key", "AK"}, {"name", "coffee"}, {"location", "116.397,39.908"}, {"radius", "-2147483648"},
        {"category", ""}, {"orderby", "distance desc"}, {"page_index", "3"}, {"page_size", "2147483647"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    server.clearRecords();
    delegate->events.clear();
    row.call(*facade);
    ASSERT_TRUE(waitForEvents(*delegate, 1));
    const auto request = server.lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, row.path);
    EXPECT_EQ(request.query, row.query);
    EXPECT_EQ(request.body, "");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    // Everything outside the unreserved set travels percent-encoded; a bare '+' would
    // reach most servers as a space.
    EXPECT_TRUE(std::all_of(request.rawQuery.begin(), request.rawQuery.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x80 && c != '+' && c != ' ';
    })) << request.rawQuery;
  }
}

TEST_F(ScenarioSearchTest, GeocodingUsesTheAccessKeyAndPlaceSearchThePoiKey) {
  facade->setPoiKey("PK");
  for (const Call& call : {kGeocode, kPlaceSearch, kNearbySearch}) {
    call(*facade);
  }
  ASSERT_TRUE(waitForEvents(*delegate, 3));
  std::map<std::string, std::string> keys;
  for (const auto& request : server.requests()) {
    keys[request.path] = request.queryValue("access_key").value_or("<none>");
  }
  EXPECT_EQ(keys, (std::map<std::string, std::string>{
                      {kGeocodePath, "AK"}, {kPlaceSearchPath, "PK"}, {kNearbySearchPath, "PK"}}));

  // The property alone satisfies the precondition but sets no key.
  auto bare = makeFacade(delegate);
  setModuleAccessKey("");
  setModulePoiKey("");
  bare->accesskey = "property only";
  server.clearRecords();
  kGeocode(*bare);
  kPlaceSearch(*bare);
  ASSERT_TRUE(waitForEvents(*delegate, 5));
  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.queryValue("access_key"), "");
  }
}

struct OutcomeRow {
  const char* what;
  Call call;
  CannedResponse answer;
  std::string recordingHears;
  std::string requiredOnlyHears;
  std::string logLine;
};

TEST_F(ScenarioSearchTest, OutcomesReachTheDelegateAndTheLog) {
  const std::string notDecoded = "请求失败，状态码：200，错误：数据解码失败";
  const auto withItem = [](const std::string& item) { return CannedResponse::json(200, "[" + item + "]"); };
  const std::string good = R"({"id": "G1", "geoPoint": "1,2", "type": "t", "name": "n", "code": "c",
                               "address": {"name": "a", "context": []}, "relevance": 1, "distance": 2)";
  const OutcomeRow rows[] = {
      {"geocode, empty list", kGeocode, CannedResponse::json(200, "[]"), "geocode:/0;", "",
       "请求成功，状态码：200，返回0条结果"},
      {"geocode, two places", kGeocode, CannedResponse::json(200, kTwoPlacesJson), "geocode:/2;", "",
       "请求成功，状态码：200，返回2条结果"},
      {"keyword search", kPlaceSearch, CannedResponse::json(200, kTwoPlacesJson), "poi:/2;", "",
       "请求成功，状态码：200，返回2条结果"},
      {"nearby search, 206", kNearbySearch, CannedResponse::json(206, kTwoPlacesJson), "poi:/2;", "",
       "请求成功，状态码：206，返回2条结果"},
      {"404", kGeocode, CannedResponse::json(404, ""), "error:请求失败，状态码: 404/0;",
       "error:请求失败，状态码: 404/0;", "请求失败，状态码：404，错误：请求失败，状态码: 404"},
      {"array wrapped in an object", kPlaceSearch, CannedResponse::json(200, R"({"results": [])" + good + "}]}"),
       "error:数据解码失败/0;", "error:数据解码失败/0;", notDecoded},
      {"item without address", kNearbySearch,
       withItem(R"({"id": "G1", "geoPoint": "1,2", "type": "t", "name": "n", "code": "c", "relevance": 1, "distance": 2})"),
       "error:数据解码失败/0;", "error:数据解码失败/0;", notDecoded},
      {"distance as an object", kGeocode,
       withItem(R"({"id": "G1", "geoPoint": "1,2", "type": "t", "name": "n", "code": "c",
                    "address": {"name": "a", "context": []}, "relevance": 1, "distance": {"line": 2}})"),
       "error:数据解码失败/0;", "error:数据解码失败/0;", notDecoded},
      {"numeric id", kPlaceSearch,
       withItem(R"({"id": 7, "geoPoint": "1,2", "type": "t", "name": "n", "code": "c",
                    "address": {"name": "a", "context": []}, "relevance": 1, "distance": 2})"),
       "error:数据解码失败/0;", "error:数据解码失败/0;", notDecoded},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    answerAll(row.answer);
    auto recording = std::make_shared<RecordingDelegate>();
    auto requiredOnly = std::make_shared<RequiredOnlyDelegate>();
    auto first = makeFacade(recording);
    auto second = makeFacade(requiredOnly);

    startLog();
    row.call(*first);
    row.call(*second);
    EXPECT_TRUE(waitForLogLine(row.logLine, 2));
    const auto log = stopLog();
    server.clearRecords();

    EXPECT_EQ(heardBy(*recording), row.recordingHears);
    EXPECT_EQ(heardBy(*requiredOnly), row.requiredOnlyHears);
    EXPECT_EQ(std::count(log.begin(), log.end(), row.logLine), 2) << testing::PrintToString(log);
  }
}

TEST_F(ScenarioSearchTest, ARequestThatCannotBeBuiltFailsLater) {
  facade->serviceURL = "http://example.com";
  startLog();
  for (const Call& call : {kGeocode, kPlaceSearch, kNearbySearch}) {
    call(*facade);
  }
  EXPECT_TRUE(delegate->events.empty()) << "nothing may arrive inside the call";
  ASSERT_TRUE(waitForEvents(*delegate, 3));
  const auto log = stopLog();
  EXPECT_EQ(heardBy(*delegate), "error:无效的URL/0;error:无效的URL/0;error:无效的URL/0;");
  EXPECT_EQ(log, std::vector<std::string>(3, "请求失败，状态码：-1，错误：无效的URL"));
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ScenarioSearchTest, GeocodingLogsBeforeTheCallbackPlaceSearchAfter) {
  struct Row {
    Call call;
    std::string path;
    std::vector<std::string> order;
  };
  const std::string success = "请求成功，状态码：200，返回2条结果";
  const Row rows[] = {
      {kGeocode, kGeocodePath, {success, "<callback>"}},
      {kPlaceSearch, kPlaceSearchPath, {"<callback>", success}},
      {kNearbySearch, kNearbySearchPath, {"<callback>", success}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    auto marking = std::make_shared<MarkingDelegate>();
    auto client = makeFacade(marking);
    server.clearRecords();
    startLog();
    row.call(*client);
    ASSERT_TRUE(waitForEvents(*marking, 1));
    const auto log = stopLog();

    ASSERT_EQ(log.size(), 3u) << testing::PrintToString(log);
    EXPECT_EQ(log[0], "请求URL：" + server.url(row.path) + "?" + server.lastRequest().rawQuery);
    EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), row.order);
  }
}

TEST_F(ScenarioSearchTest, AReleasedFacadeHearsOfPlaceSearchesButNotOfGeocoding) {
  auto witness = std::make_shared<RecordingDelegate>();
  auto live = makeFacade(witness);
  std::weak_ptr<TkClientLocation> geocoding = facade;
  kGeocode(*facade);
  facade.reset();
  EXPECT_TRUE(geocoding.expired());

  auto searcher = std::make_shared<RecordingDelegate>();
  auto searching = makeFacade(searcher);
  std::weak_ptr<TkClientLocation> held = searching;
  kPlaceSearch(*searching);
  searching.reset();
  EXPECT_FALSE(held.expired()) << "a place search keeps its facade until delivered";

  ASSERT_TRUE(waitForEvents(*searcher, 1));
  EXPECT_EQ(heardBy(*searcher), "poi:/2;");
  // A later exchange on a live facade, started once the server has seen the geocoding
  // request: when it has been delivered, the geocoding answer has been handled too.
  ASSERT_TRUE(server.waitForRequests(2));
  kGeocode(*live);
  ASSERT_TRUE(waitForEvents(*witness, 1));
  EXPECT_TRUE(delegate->events.empty());
  EXPECT_TRUE(MainQueue::shared().runUntil([&] { return held.expired(); }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace tovik::testing_support
