// The fused-location exchange against a real loopback server: what the service answers,
// what the delegate hears and what the log says.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "services/service_test_env.h"

namespace tovik::testing_support {
namespace {

using test::CannedResponse;
using test::TestServer;

struct OutcomeRow {
  const char* what;
  std::function<void(TestServer&, TkClientLocation&, Location&)> arrange;
  const char* kind;  // the delegate event
  std::string message;
  std::string logLine;
};

class TrackLocationTest : public ServiceTestEnvironment {
 protected:
  void respond(CannedResponse response) { server.respond("POST", kTrackPath, std::move(response)); }

  /// One more exchange on a live facade, started once the server has answered the earlier
  /// ones: when it has been delivered, so have they (the main queue runs in order).
  void witnessExchange() {
    auto witness = std::make_shared<RecordingDelegate>();
    auto live = makeFacade(witness);
    live->getTrackLocation(testFix());
    ASSERT_TRUE(waitForEvents(*witness, 1));
  }
};

TEST_F(TrackLocationTest, EveryOutcomeReachesTheDelegateOnceAndIsLoggedOnce) {
  const auto answer = [](CannedResponse response) {
    return [response](TestServer& s, TkClientLocation&, Location&) { s.respond("POST", kTrackPath, response); };
  };
  const auto serviceAt = [](std::string url) {
    return [url](TestServer&, TkClientLocation& f, Location&) { f.serviceURL = url; };
  };
  const OutcomeRow rows[] = {
      {"200 with a location", answer(CannedResponse::json(200, kLocationJson)), "location", "",
       "融合定位成功，状态码: 200"},
      {"203 with a location", answer(CannedResponse::json(203, kLocationJson)), "error", "203",
       "融合定位成功，状态码: 203"},
      {"204, no body", answer(CannedResponse::json(204, "")), "error", "数据解码失败",
       "融合定位失败: decodingFailed，状态码: 204"},
      {"500", answer(CannedResponse::json(500, kLocationJson)), "error", "请求失败，状态码: 500",
       "融合定位失败: Error Domain=NetworkClient Code=500 \"请求失败，状态码: 500\"，状态码: 500"},
      {"200 with an empty body", answer(CannedResponse::json(200, "")), "error", "数据解码失败",
       "融合定位失败: decodingFailed，状态码: 200"},
      {"200 with another shape", answer(CannedResponse::json(200, R"({"id": 1})")), "error", "数据解码失败",
       "融合定位失败: decodingFailed，状态码: 200"},
      {"connection dropped", answer(CannedResponse::dropped()), "error", "网络连接已中断",
       "融合定位失败: networkError(Error Domain=URLError Code=52 \"网络连接已中断\")，状态码: -1"},
      {"connection refused", serviceAt(closedServiceURL()), "error", "无法连接到服务器",
       "融合定位失败: networkError(Error Domain=URLError Code=7 \"无法连接到服务器\")，状态码: -1"},
      {"no answer in time",
       [](TestServer& s, TkClientLocation&, Location&) {
         ServiceRequest::setTimeoutIntervalForTesting(0.3);
         s.respond("POST", kTrackPath, CannedResponse::delayed(std::chrono::seconds(30)));
       },
       "error", "请求超时", "融合定位失败: networkError(Error Domain=URLError Code=28 \"请求超时\")，状态码: -1"},
      {"plain http to another host", serviceAt("http://example.com"), "error", "无效的URL",
       "融合定位失败: invalidURL，状态码: -1"},
      {"no URL at all", serviceAt("not a url"), "error", "无效的URL", "融合定位失败: invalidURL，状态码: -1"},
      {"altitude not finite",
       [](TestServer&, TkClientLocation&, Location& fix) { fix.altitude = std::numeric_limits<double>::infinity(); },
       "error", "数据编码失败：location.gnss.altitude 不是有限数值",
       "融合定位失败: Error Domain=EncodingError Code=1 \"数据编码失败：location.gnss.altitude 不是有限数值\"，状态码: -1"},
  };

  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    auto fresh = std::make_shared<RecordingDelegate>();
    auto client = makeFacade(fresh);
    Location fix = testFix();
    row.arrange(server, *client, fix);

    startLog();
    client->getTrackLocation(fix);
    EXPECT_TRUE(fresh->events.empty()) << "nothing may arrive inside the call";
    EXPECT_TRUE(waitForEvents(*fresh, 1));
    MainQueue::shared().poll();
    const auto log = stopLog();
    ServiceRequest::setTimeoutIntervalForTesting(std::nullopt);

    ASSERT_EQ(fresh->events.size(), 1u);
    const auto& event = fresh->events.front();
    EXPECT_EQ(event.kind, row.kind);
    EXPECT_EQ(event.msg, row.message);
    EXPECT_TRUE(event.onMainThread);
    if (event.kind == "location") {
      ASSERT_NE(event.location, nullptr);
      EXPECT_EQ(event.location->id, "R1");
    }
    EXPECT_TRUE(contains(log, row.logLine)) << testing::PrintToString(log);
    const auto isOutcomeLine = [](const std::string& line) {
      return line.starts_with("融合定位成功") || line.starts_with("融合定位失败");
    };
    EXPECT_EQ(std::count_if(log.begin(), log.end(), isOutcomeLine), 1);
  }
}

TEST_F(TrackLocationTest, TheServiceReceivesTheFixTheDeviceAndTheKey) {
  Device maker = testDevice();
  maker.manufacturer = "Raspberry Pi Foundation";
  Device::setCurrent(maker);
  facade->serviceURL = server.baseURL() + "/";  // one trailing slash is dropped
  respond(CannedResponse::json(200, kLocationJson));

  Location still = testFix();
  still.verticalAccuracy = -1;
  still.speed = 0;
  facade->getTrackLocation(testFix());
  facade->getTrackLocation(still);
  ASSERT_TRUE(waitForEvents(*delegate, 2));

  const auto received = server.requests();
  ASSERT_EQ(received.size(), 2u);
  for (const auto& request : received) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, kTrackPath);
    EXPECT_EQ(request.query, (std::multimap<std::string, std::string>{
                                 {"access_key", "AK"}, {"needAddress", "true"}, {"response_sprf", "gcj02"}}));
    EXPECT_EQ(request.header("Content-Type"), "application/json");
  }

  // Two connections: the requests may arrive in either order.
  auto moving = nlohmann::json::parse(received[0].body);
  auto standing = nlohmann::json::parse(received[1].body);
  if (moving["location"]["gnss"]["velocity"] == 0) {
    std::swap(moving, standing);
  }
  const auto expected = nlohmann::json::parse(R"({
    "asset": {"id": "0A1B2C3D-4E5F-4061-8283-949596979899", "manufacturer": "Raspberry Pi Foundation",
              "model": "Laptop 13", "os": {"type": "Debian GNU/Linux", "version": "12"}},
    "location": {"gnss": {"point": {"longitude": 116.4074, "latitude": 39.9042}, "accuracy": 8,
                          "altitude": 43.5, "verticalAccuracy": 3, "velocity": 1.25}}})");
  EXPECT_EQ(moving["asset"], expected["asset"]);
  EXPECT_EQ(moving["location"], expected["location"]);
  EXPECT_TRUE(moving["timestamp"].is_number_integer());
  EXPECT_TRUE(std::regex_match(moving["id"].get<std::string>(),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  EXPECT_NE(moving["id"], standing["id"]);

  const auto& gnss = standing["location"]["gnss"];
  EXPECT_FALSE(gnss.contains("verticalAccuracy"));
  EXPECT_EQ(gnss["velocity"], 0);
  EXPECT_EQ(gnss["altitude"], 43.5);
}

TEST_F(TrackLocationTest, WithLoggingOnTheBodyIsPrintedBeforeTheOutcome) {
  respond(CannedResponse::json(200, kLocationJson));
  startLog();
  facade->getTrackLocation(testFix());
  ASSERT_TRUE(waitForEvents(*delegate, 1));
  const auto log = stopLog();

  ASSERT_EQ(log.size(), 4u) << testing::PrintToString(log);
  EXPECT_EQ(log[0], "");
  EXPECT_EQ(log[1], "融合定位请求Body:");
  EXPECT_EQ(nlohmann::json::parse(log[2]), nlohmann::json::parse(server.lastRequest().body));
  EXPECT_EQ(log[3], "融合定位成功，状态码: 200");
}

TEST_F(TrackLocationTest, WithoutConsentNoCallSendsAnything) {
  facade->isAgree = false;
  facade->accesskey.reset();  // consent is checked first
  facade->getTrackLocation(testFix());
  facade->getReverseCode(39.9, 116.4);
  facade->getGeocCode("a", "b");
  facade->poiKeySearch("a", "b", "c", 1, 2);
  facade->poiNearbySearch("a", "b", 1, "c", "d", 2, 3);
  ASSERT_EQ(delegate->events.size(), 5u);  // each at once, inside its call
  for (const auto& event : delegate->events) {
    EXPECT_EQ(event.msg, "您未同意隐私政策");
  }
  MainQueue::shared().poll();
  EXPECT_EQ(delegate->events.size(), 5u);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(TrackLocationTest, WithoutDelegateTheOutcomeIsStillLogged) {
  facade->callDelegate = nullptr;
  respond(CannedResponse::json(200, kLocationJson));
  startLog();
  facade->getTrackLocation(testFix());
  EXPECT_TRUE(waitForLogLine("融合定位成功，状态码: 200", 1));
  (void)stopLog();
}

TEST_F(TrackLocationTest, AReleasedFacadeHearsNothing) {
  respond(CannedResponse::json(200, kLocationJson));
  std::weak_ptr<TkClientLocation> gone = facade;
  startLog();
  facade->getTrackLocation(testFix());
  facade.reset();
  EXPECT_TRUE(gone.expired()) << "a request in flight must not keep the facade";

  ASSERT_TRUE(server.waitForRequests(1));
  witnessExchange();
  const auto log = stopLog();

  EXPECT_TRUE(delegate->events.empty());
  EXPECT_EQ(std::count(log.begin(), log.end(), "融合定位成功，状态码: 200"), 1) << testing::PrintToString(log);
}

TEST_F(TrackLocationTest, ADelegateReplacedInFlightHearsTheOutcome) {
  respond(CannedResponse::json(200, kLocationJson));
  facade->getTrackLocation(testFix());
  auto successor = std::make_shared<RecordingDelegate>();
  facade->setLocationDelegate(successor);

  ASSERT_TRUE(waitForEvents(*successor, 1));
  EXPECT_EQ(successor->events[0].kind, "location");
  EXPECT_TRUE(delegate->events.empty());
}

}  // namespace
}  // namespace tovik::testing_support
