// The track-point endpoint against a real loopback server: the fused-location call and
// reverse geocoding. What the service receives, what the delegate hears, what the log says;
// and the request bodies themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "services/service_test_env.h"
#include "tovik/services/reverse_geo_request.h"
#include "tovik/services/track_request.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using Query = std::multimap<std::string, std::string>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Location fix(double horizontal, double vertical, double speed) {
  return {.coordinate = {.latitude = 39.9042, .longitude = 116.4074}, .altitude = 43.5,
          .horizontalAccuracy = horizontal, .verticalAccuracy = vertical, .speed = speed};
}

class LocationExchangeTest : public ServiceTestEnvironment {
 protected:
  void SetUp() override {
    ServiceTestEnvironment::SetUp();
    server.respondToAll(CannedResponse::json(200, kLocationJson));
  }
};

struct OutcomeRow {
  const char* what;
  std::function<void(TestServer&, TkClientLocation&, Location&)> arrange;
  std::string error;    // what the delegate hears; none: the result
  std::string outcome;  // the log line, after the call's name
  bool built = true;    // a request that cannot be built prints no body
  bool reverseToo = true;
};

// Every outcome of both calls on the endpoint, the reverse one also heard by a delegate
// without its optional member: the body printed before sending, then the outcome once,
// then the callback (marked in the log).
TEST_F(LocationExchangeTest, EveryOutcomeReachesTheDelegateOnceAndIsLoggedOnce) {
  const auto answer = [](CannedResponse response) {
    return [response](TestServer& s, TkClientLocation&, Location&) { s.respondToAll(response); };
  };
  const auto serviceAt = [](std::string url) {
    return [url](TestServer&, TkClientLocation& f, Location&) { f.serviceURL = url; };
  };
  const std::string closedURL = [] { return TestServer().baseURL(); }();  // a port right after its server stopped
  const OutcomeRow rows[] = {
      {"200 with a location", answer(CannedResponse::json(200, kLocationJson)), "", "成功，状态码: 200"},
      {"203 with a location", answer(CannedResponse::json(203, kLocationJson)), "203", "成功，状态码: 203"},
      {"204, no body", answer(CannedResponse::json(204, "")), "数据解码失败", "失败: decodingFailed，状态码: 204"},
      {"500", answer(CannedResponse::json(500, kLocationJson)), "请求失败，状态码: 500",
       "失败: Error Domain=NetworkClient Code=500 \"请求失败，状态码: 500\"，状态码: 500"},
      {"200 with an empty body", answer(CannedResponse::json(200, "")), "数据解码失败",
       "失败: decodingFailed，状态码: 200"},
      {"200 with another shape", answer(CannedResponse::json(200, "[]")), "数据解码失败",
       "失败: decodingFailed，状态码: 200"},
      {"connection dropped", answer(CannedResponse::dropped()), "网络连接已中断",
       "失败: networkError(Error Domain=URLError Code=52 \"网络连接已中断\")，状态码: -1"},
      {"connection refused", serviceAt(closedURL), "无法连接到服务器",
       "失败: networkError(Error Domain=URLError Code=7 \"无法连接到服务器\")，状态码: -1"},
      {"no answer in time",
       [](TestServer& s, TkClientLocation&, Location&) {
         ServiceRequest::setTimeoutIntervalForTesting(0.3);
         s.respondToAll(CannedResponse::delayed(std::chrono::seconds(30)));
       },
       "请求超时", "失败: networkError(Error Domain=URLError Code=28 \"请求超时\")，状态码: -1"},
      {"plain http to another host", serviceAt("http://example.com"), "无效的URL", "失败: invalidURL，状态码: -1", false},
      {"no URL at all", serviceAt("not a url"), "无效的URL", "失败: invalidURL，状态码: -1", false},
      {"altitude not finite",
       [](TestServer&, TkClientLocation&, Location& fix) { fix.altitude = std::numeric_limits<double>::infinity(); },
       "数据编码失败：location.gnss.altitude 不是有限数值",
       "失败: Error Domain=EncodingError Code=1 \"数据编码失败：location.gnss.altitude 不是有限数值\"，状态码: -1", false,
       false},
  };
  for (const auto& row : rows) {
    const struct {
      const char* name;
      std::shared_ptr<RequiredOnlyRecorder> listener;
      std::string result;
    } ways[] = {{"融合定位", marking(), "<location:R1/0>"},
                {"逆地理编码", marking(), "<reverse:R1/0>"},
                {"逆地理编码", marking<RequiredOnlyRecorder>(), ""}};
    for (const auto& way : ways) {
      const bool reverse = way.name == std::string("逆地理编码");
      if (reverse && !row.reverseToo) {
        continue;
      }
      SCOPED_TRACE(std::string(row.what) + ", " + way.name + (way.result.empty() ? ", required members only" : ""));
      auto client = makeFacade(way.listener);
      Location fix = testFix();
      row.arrange(server, *client, fix);
      server.clearRecords();
      startLog();
      reverse ? client->getReverseCode(39.9, 116.4) : client->getTrackLocation(fix);
      EXPECT_TRUE(way.listener->heard.empty()) << "nothing may arrive inside the call";
      Strings expected{way.name + row.outcome, row.error.empty() ? way.result : "<error:" + row.error + "/0>"};
      expected.erase(std::remove(expected.begin(), expected.end(), ""), expected.end());
      EXPECT_TRUE(waitForLogLine(expected.back()));
      MainQueue::shared().poll();
      auto log = stopLog();
      ServiceRequest::setTimeoutIntervalForTesting(std::nullopt);
      std::erase_if(log, [](const std::string& line) { return line.starts_with("解析错误："); });  // the client's own
      if (row.built) {  // the body, printed before the request goes out
        ASSERT_GE(log.size(), 3u) << testing::PrintToString(log);
        expected.insert(expected.begin(), {"", way.name + std::string("请求Body:"), log[2]});
        EXPECT_TRUE(server.requestCount() == 0 || json::parse(log[2]) == json::parse(server.lastRequest().body));
      }
      EXPECT_EQ(log, expected);
    }
  }
}

TEST_F(LocationExchangeTest, TheServiceReceivesTheFixTheDeviceAndTheKey) {
  Device maker = testDevice();
  maker.manufacturer = "Raspberry Pi Foundation";
  Device::setCurrent(maker);
  facade->serviceURL = server.baseURL() + "/";  // one trailing slash is dropped
  Location still = testFix();
  still.verticalAccuracy = -1;
  still.speed = 0;
  facade->getTrackLocation(testFix());
  facade->getTrackLocation(still);
  facade->getReverseCode(39.9, 116.4);
  ASSERT_TRUE(waitForCalls(*delegate, 3));

  std::vector<json> fixes;  // separate connections: any order
  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kTrackPath);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const auto body = json::parse(request.body);
    EXPECT_TRUE(body["timestamp"].is_number_integer());
    EXPECT_TRUE(isUpperUuid(body["id"].get<std::string>())) << body["id"];
    if (body["asset"].is_string()) {  // reverse geocoding: a bare GCJ-02 point
      EXPECT_EQ(request.query, (Query{{"access_key", "AK"}, {"response_sprf", "gcj02"}}));
      EXPECT_EQ(body["asset"], kVendorId);
      EXPECT_EQ(body["location"], json::parse(R"({"position": {
          "point": {"longitude": 116.4, "latitude": 39.9}, "spatialReference": "gcj02"}})"));
      continue;
    }
    EXPECT_EQ(request.query, (Query{{"access_key", "AK"}, {"needAddress", "true"}, {"response_sprf", "gcj02"}}));
    EXPECT_EQ(body["asset"], json::parse(R"({"id": "0A1B2C3D-4E5F-4061-8283-949596979899",
        "manufacturer": "Raspberry Pi Foundation", "model": "Laptop 13",
        "os": {"type": "Debian GNU/Linux", "version": "12"}})"));
    fixes.push_back(body);
  }
  ASSERT_EQ(fixes.size(), 2u);
  if (fixes[0]["location"]["gnss"]["velocity"] == 0) {
    std::swap(fixes[0], fixes[1]);
  }
  EXPECT_EQ(fixes[0]["location"]["gnss"], json::parse(R"({"point": {"longitude": 116.4074, "latitude": 39.9042},
      "accuracy": 8, "altitude": 43.5, "verticalAccuracy": 3, "velocity": 1.25})"));
  EXPECT_EQ(fixes[1]["location"]["gnss"], json::parse(R"({"point": {"longitude": 116.4074, "latitude": 39.9042},
      "accuracy": 8, "altitude": 43.5, "velocity": 0})"));
  EXPECT_NE(fixes[0]["id"], fixes[1]["id"]);
}

TEST_F(LocationExchangeTest, WithoutConsentNoCallSendsAnything) {
  facade->isAgree = false;
  facade->accesskey.reset();  // consent is checked first
  facade->getTrackLocation(testFix());
  facade->getReverseCode(39.9, 116.4);
  facade->getGeocCode("a", "b");
  facade->poiKeySearch("a", "b", "c", 1, 2);
  facade->poiNearbySearch("a", "b", 1, "c", "d", 2, 3);
  EXPECT_EQ(delegate->summaries(), Strings(5, "error:您未同意隐私政策/0")) << "each at once, inside its call";
  MainQueue::shared().poll();
  EXPECT_EQ(delegate->heard.size(), 5u);
  EXPECT_EQ(server.requestCount(), 0u);
}

// The delegate is read when the outcome arrives; a facade released meanwhile hears nothing.
TEST_F(LocationExchangeTest, AnOutcomeReachesWhoeverListensWhenItArrives) {
  auto witness = marking();
  auto live = makeFacade(witness);
  auto predecessor = marking();
  auto successor = marking();
  auto replacing = makeFacade(predecessor);
  auto mute = makeFacade(nullptr);
  std::weak_ptr<TkClientLocation> gone = facade;
  startLog();
  facade->getTrackLocation(testFix());
  facade.reset();
  EXPECT_TRUE(gone.expired()) << "a request in flight must not keep the facade";
  replacing->getTrackLocation(testFix());
  replacing->setLocationDelegate(successor);
  mute->getTrackLocation(testFix());

  // Answers come back in any order: once the three that are logged have been, a stray
  // fourth has its chance.
  live->getTrackLocation(testFix());
  ASSERT_TRUE(waitForLogLine("融合定位成功，状态码: 200", 3));
  ASSERT_TRUE(waitForCalls(*witness, 1));
  ASSERT_TRUE(waitForCalls(*successor, 1));
  ASSERT_TRUE(server.waitForRequests(4));
  MainQueue::shared().runFor(std::chrono::milliseconds(50));
  const auto log = stopLog();

  EXPECT_TRUE(delegate->heard.empty());
  EXPECT_TRUE(predecessor->heard.empty());
  EXPECT_EQ(successor->summaries(), Strings{"location:R1/0"});
  // Logged for the replaced, the mute and the live facade, not for the released one.
  EXPECT_EQ(countOf(log, "融合定位成功，状态码: 200"), 3) << testing::PrintToString(log);
}

// The bodies themselves: what a fix and a device turn into.

TEST_F(LocationExchangeTest, FixValuesFollowThePlatformConventionsForUnknowns) {
  const std::pair<Location, const char*> rows[] = {  // the fix, what its body says beyond point and altitude
      {fix(5, 3, 2.5), R"({"accuracy": 5, "verticalAccuracy": 3, "velocity": 2.5})"},
      {fix(-1, 3, 2.5), R"({"accuracy": 0, "verticalAccuracy": 3, "velocity": 2.5})"},
      {fix(kNaN, 3, 2.5), R"({"accuracy": 0, "verticalAccuracy": 3, "velocity": 2.5})"},
      {fix(5, 0, 2.5), R"({"accuracy": 5, "velocity": 2.5})"},
      {fix(5, -1, 2.5), R"({"accuracy": 5, "velocity": 2.5})"},
      {fix(5, kNaN, 2.5), R"({"accuracy": 5, "velocity": 2.5})"},
      {fix(5, 3, 0), R"({"accuracy": 5, "verticalAccuracy": 3, "velocity": 0})"},
      {fix(5, 3, -1), R"({"accuracy": 5, "verticalAccuracy": 3})"},
      {fix(5, 3, kNaN), R"({"accuracy": 5, "verticalAccuracy": 3})"},
  };
  for (const auto& [location, values] : rows) {
    // The altitude is always sent, whatever the vertical accuracy says.
    auto expected = json::parse(R"({"point": {"longitude": 116.4074, "latitude": 39.9042}, "altitude": 43.5})");
    expected.update(json::parse(values));
    EXPECT_EQ(TrackRequest::assemble(location, testDevice()).encode()["location"]["gnss"], expected) << values;
  }
}

TEST_F(LocationExchangeTest, EveryBodyIsStampedWithAFreshIdentity) {
  Clock::pin(12.0625);  // 12062.5 ms, exact in binary: halves round away from zero
  const auto first = TrackRequest::assemble(fix(5, 3, 1), testDevice());
  const auto reverse = ReverseGeoRequest::assemble(39.9, 116.4, testDevice());
  EXPECT_EQ(first.timestamp, 12063);
  EXPECT_EQ(reverse.timestamp, 12063);
  EXPECT_NE(*reverse.id, first.id);

  // Without a vendor identifier every body names the device anew.
  Device anonymous = testDevice();
  anonymous.identifierForVendor.reset();
  const auto a = TrackRequest::assemble(fix(5, 3, 1), anonymous);
  const auto b = ReverseGeoRequest::assemble(1, 2, anonymous);
  EXPECT_TRUE(isUpperUuid(a.asset.id) && isUpperUuid(b.asset));
  EXPECT_NE(a.asset.id, b.asset);
}

}  // namespace
}  // namespace tovik::test
