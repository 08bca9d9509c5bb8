// Forward geocoding and the two place searches against a real loopback server.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "services/service_test_env.h"
#include "tovik/network/curl_session.h"

namespace tovik::test {
namespace {

using Query = std::multimap<std::string, std::string>;
using Call = std::function<void(TkClientLocation&)>;

const char* const kTwoPlacesJson = R"([{"id": "G1", "geoPoint": "116.397,39.908", "type": "poi", "name": "天安门",
  "code": "110101", "address": {"name": "东城区", "context": []}, "relevance": 0.9, "distance": 12},
  {"id": "G2", "geoPoint": "116.391,39.906", "type": "poi", "name": "中山公园", "code": "110101",
   "categories": [{"id": "park", "name": "公园"}], "address": {"name": "东城区", "context": []}, "relevance": 1, "distance": 300.5}])";

const Call kGeocode = [](TkClientLocation& f) { f.getGeocCode("北京市东城区", "北京"); };
const Call kPlaceSearch = [](TkClientLocation& f) { f.poiKeySearch("咖啡", "110100", "北京", 1, 10); };
const Call kNearbySearch = [](TkClientLocation& f) {
  f.poiNearbySearch("咖啡", "116.397,39.908", 500, "餐饮", "distance", 1, 10);
};

class ScenarioSearchTest : public ServiceTestEnvironment {
 protected:
  void SetUp() override {
    ServiceTestEnvironment::SetUp();
    server.respondToAll(CannedResponse::json(200, kTwoPlacesJson));
  }
};

// Geocoding carries the access key, the place searches the POI key.
TEST_F(ScenarioSearchTest, QueryItemsArriveIntactWithTheirKey) {
  facade->setPoiKey("PK");
  const struct {
    const char* what;
    Call call;
    std::string path;
    Query query;
  } rows[] = {
      {"geocode, awkward text, empty city", [](TkClientLocation& f) { f.getGeocCode("东城区 A&B=C+D%20", ""); },
       "/location/scenario/v1/geocode", {{"access_key", "AK"}, {"address", "东城区 A&B=C+D%20"}, {"city", ""}}},
      {"keyword search", [](TkClientLocation& f) { f.poiKeySearch("咖啡 & 茶", "", "北京", -1, 0); },
       "/location/scenario/v1/placesearch",
       {{"access_key", "PK"}, {"name", "咖啡 & 茶"}, {"city", "北京"}, {"city_code", ""}, {"page_index", "-1"},
        {"page_size", "0"}}},
      {"nearby search sends its keywords as name",
       [](TkClientLocation& f) {
         f.poiNearbySearch("coffee", "116.397,39.908", -2147483647 - 1, "", "distance desc", 3, 2147483647);
       },
       "/location/scenario/v1/nearbysearch",
       {{"access_key", "PK"}, {"name", "coffee"}, {"location", "116.397,39.908"}, {"radius", "-2147483648"},
        {"category", ""}, {"orderby", "distance desc"}, {"page_index", "3"}, {"page_size", "2147483647"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    server.clearRecords();
    delegate->heard.clear();
    row.call(*facade);
    ASSERT_TRUE(waitForCalls(*delegate, 1));
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

// Each outcome as the log shows it after the request line, callbacks marked: geocoding logs
// a success before its callback, the place searches after it.
TEST_F(ScenarioSearchTest, OutcomesReachTheDelegateAndTheLog) {
  const std::string ok200 = "请求成功，状态码：200，返回2条结果";
  const std::string notDecoded = "请求失败，状态码：200，错误：数据解码失败";
  const auto withItem = [](const std::string& fields) {
    return CannedResponse::json(200, R"([{"geoPoint": "1,2", "type": "t", "name": "n", "code": "c", "relevance": 1, )" +
                                         fields + "}]");
  };
  const std::string address = R"("address": {"name": "a", "context": []})";
  const struct {
    const char* what;
    Call call;
    CannedResponse answer;
    Strings log;
    std::string serviceURL = {};
  } rows[] = {
      {"geocode, empty list", kGeocode, CannedResponse::json(200, "[]"), {"请求成功，状态码：200，返回0条结果", "<geocode:/0>"}},
      {"geocode, two places", kGeocode, CannedResponse::json(200, kTwoPlacesJson), {ok200, "<geocode:/2>"}},
      {"keyword search", kPlaceSearch, CannedResponse::json(200, kTwoPlacesJson), {"<poi:/2>", ok200}},
      {"nearby search, 206", kNearbySearch, CannedResponse::json(206, kTwoPlacesJson),
       {"<poi:/2>", "请求成功，状态码：206，返回2条结果"}},
      {"404", kGeocode, CannedResponse::json(404, ""),
       {"请求失败，状态码：404，错误：请求失败，状态码: 404", "<error:请求失败，状态码: 404/0>"}},
      {"array wrapped in an object", kPlaceSearch, CannedResponse::json(200, R"({"results": []})"),
       {"解析错误：expected an array, found object", notDecoded, "<error:数据解码失败/0>"}},
      {"item without address", kNearbySearch, withItem(R"("id": "G1", "distance": 2)"),
       {"解析错误：[0].address: required key is missing", notDecoded, "<error:数据解码失败/0>"}},
      {"distance as an object", kGeocode, withItem(R"("id": "G1", "distance": {"line": 2}, )" + address),
       {"解析错误：[0].distance: expected a number, found object", notDecoded, "<error:数据解码失败/0>"}},
      {"numeric id", kPlaceSearch, withItem(R"("id": 7, "distance": 2, )" + address),
       {"解析错误：[0].id: expected a string, found number", notDecoded, "<error:数据解码失败/0>"}},
      {"request that cannot be built", kNearbySearch, CannedResponse::json(200, "[]"),
       {"请求失败，状态码：-1，错误：无效的URL", "<error:无效的URL/0>"}, "http://example.com"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    server.respondToAll(row.answer);
    // A delegate without the optional members hears errors only.
    Strings requiredOnlyLog;
    std::copy_if(row.log.begin(), row.log.end(), std::back_inserter(requiredOnlyLog), [](const std::string& line) {
      return !line.starts_with("<geocode") && !line.starts_with("<poi");
    });
    for (const auto& [listener, expected] :
         {std::pair<std::shared_ptr<RequiredOnlyRecorder>, Strings>{marking(), row.log},
          {marking<RequiredOnlyRecorder>(), requiredOnlyLog}}) {
      server.clearRecords();
      auto client = makeFacade(listener);
      client->serviceURL = row.serviceURL.empty() ? client->serviceURL : row.serviceURL;
      startLog();
      row.call(*client);
      EXPECT_TRUE(listener->heard.empty()) << "nothing may arrive inside the call";
      EXPECT_TRUE(waitForLogLine(expected.back()));
      auto log = stopLog();
      if (server.requestCount() > 0) {
        ASSERT_FALSE(log.empty());
        const auto request = server.lastRequest();
        EXPECT_EQ(log.front(), "请求URL：" + server.url(request.path) + "?" + request.rawQuery);
        log.erase(log.begin());
      }
      for (auto& line : log) {  // a decoding failure names the field, then quotes the whole body
        line = line.substr(0, line.find("，原始数据："));
      }
      EXPECT_EQ(log, expected);
    }
  }
}

TEST_F(ScenarioSearchTest, AReleasedFacadeHearsOfPlaceSearchesButNotOfGeocoding) {
  auto witness = marking();
  auto live = makeFacade(witness);
  std::weak_ptr<TkClientLocation> geocoding = facade;
  kGeocode(*facade);
  facade.reset();
  EXPECT_TRUE(geocoding.expired());

  auto searcher = marking();
  auto searching = makeFacade(searcher);
  std::weak_ptr<TkClientLocation> held = searching;
  kPlaceSearch(*searching);
  searching.reset();
  EXPECT_FALSE(held.expired()) << "a place search keeps its facade until delivered";

  ASSERT_TRUE(waitForCalls(*searcher, 1));
  EXPECT_EQ(searcher->summaries(), Strings{"poi:/2"});
  // A later exchange on a live facade, started once the server has seen the geocoding
  // request: when it has been delivered, the geocoding answer has been handled too.
  ASSERT_TRUE(server.waitForRequests(2));
  kGeocode(*live);
  ASSERT_TRUE(waitForCalls(*witness, 1));
  EXPECT_TRUE(delegate->heard.empty());
  EXPECT_TRUE(MainQueue::shared().runUntil([&] { return held.expired(); }, std::chrono::seconds(5)));
}

// Where the application's delegate is destroyed, and whether it heard its answer.
struct Release {
  std::atomic<int> answers{0};
  std::atomic<bool> done{false};
  std::thread::id thread;
  bool onMain = false;
};

class ReleaseWitness : public Recorder {
 public:
  explicit ReleaseWitness(std::shared_ptr<Release> release) : release_(std::move(release)) {}
  ~ReleaseWitness() override {
    release_->thread = std::this_thread::get_id();
    release_->onMain = MainQueue::shared().isMainThread();
    release_->done.store(true);
    MainQueue::shared().async([] {});  // wakes the test's wait wherever this ran
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) override { ++release_->answers; }

 private:
  std::shared_ptr<Release> release_;
};

TEST_F(ScenarioSearchTest, APlaceSearchLetsGoOfItsFacadeOnTheMainThread) {
  // The network worker is held right after it has posted the answer until the main thread
  // has delivered it: anything the worker still owned would then die on the worker.
  std::promise<void> resume;  // when the test ends early, its end lets the worker go
  CurlSession::setTestingHooks({.afterDispatch = [held = resume.get_future().share()] {
                                  held.wait_for(std::chrono::seconds(20));
                                },
                                .beforeWorkerStart = nullptr});
  struct Unhook {
    ~Unhook() { CurlSession::setTestingHooks({}); }
  } unhook;

  auto release = std::make_shared<Release>();
  auto searching = makeFacade(std::make_shared<ReleaseWitness>(release));
  kPlaceSearch(*searching);
  searching.reset();  // only the request holds the facade, and so the delegate, now
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return release->answers > 0; }, std::chrono::seconds(20)));
  MainQueue::shared().poll();

  resume.set_value();
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return release->done.load(); }, std::chrono::seconds(20)));
  EXPECT_TRUE(release->onMain);
  EXPECT_EQ(release->thread, std::this_thread::get_id());
  EXPECT_EQ(release->answers, 1);
}

}  // namespace
}  // namespace tovik::test
