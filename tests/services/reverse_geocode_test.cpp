// Reverse geocoding against a real loopback server.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "services/service_test_env.h"

namespace tovik::testing_support {
namespace {

using test::CannedResponse;

class ReverseGeocodeTest : public ServiceTestEnvironment {
 protected:
  void respond(CannedResponse response) { server.respond("POST", kTrackPath, std::move(response)); }
};

TEST_F(ReverseGeocodeTest, SendsAPositionOnlyTrackPointDeclaredAsGcj02) {
  respond(CannedResponse::json(200, kLocationJson));
  facade->getReverseCode(39.9, 116.4);
  ASSERT_TRUE(waitForEvents(*delegate, 1));

  const auto request = server.lastRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, kTrackPath);
  EXPECT_EQ(request.query,
            (std::multimap<std::string, std::string>{{"access_key", "AK"}, {"response_sprf", "gcj02"}}));
  const auto body = nlohmann::json::parse(request.body);
  EXPECT_EQ(body["asset"], kVendorId);
  EXPECT_EQ(body["location"], nlohmann::json::parse(R"({"position": {
      "point": {"longitude": 116.4, "latitude": 39.9}, "spatialReference": "gcj02"}})"));
  EXPECT_TRUE(body["timestamp"].is_number_integer());
  EXPECT_EQ(body["id"].get<std::string>().size(), 36u);
}

struct ReverseRow {
  const char* what;
  CannedResponse answer;
  std::string fullDelegateHears;  // see heardBy
  std::string requiredOnlyHears;
  std::string logLine;
};

TEST_F(ReverseGeocodeTest, OnlyDelegatesWithTheOptionalMemberHearOfAResult) {
  const ReverseRow rows[] = {
      {"200", CannedResponse::json(200, kLocationJson), "reverse:/0;", "", "逆地理编码成功，状态码: 200"},
      {"201", CannedResponse::json(201, kLocationJson), "error:201/0;", "error:201/0;", "逆地理编码成功，状态码: 201"},
      {"500", CannedResponse::json(500, ""), "error:请求失败，状态码: 500/0;", "error:请求失败，状态码: 500/0;",
       "逆地理编码失败: Error Domain=NetworkClient Code=500 \"请求失败，状态码: 500\"，状态码: 500"},
      {"undecodable", CannedResponse::json(200, "[]"), "error:数据解码失败/0;", "error:数据解码失败/0;",
       "逆地理编码失败: decodingFailed，状态码: 200"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    respond(row.answer);
    auto full = std::make_shared<RecordingDelegate>();
    auto requiredOnly = std::make_shared<RequiredOnlyDelegate>();
    auto first = makeFacade(full);
    auto second = makeFacade(requiredOnly);

    startLog();
    first->getReverseCode(39.9, 116.4);
    second->getReverseCode(39.9, 116.4);
    EXPECT_TRUE(waitForLogLine(row.logLine, 2));
    const auto log = stopLog();
    server.clearRecords();

    EXPECT_EQ(heardBy(*full), row.fullDelegateHears);
    EXPECT_EQ(heardBy(*requiredOnly), row.requiredOnlyHears);
    EXPECT_EQ(std::count(log.begin(), log.end(), row.logLine), 2) << testing::PrintToString(log);
  }
}

TEST_F(ReverseGeocodeTest, WithLoggingOnTheBodyIsPrintedBeforeTheOutcome) {
  respond(CannedResponse::json(200, kLocationJson));
  startLog();
  facade->getReverseCode(39.9, 116.4);
  ASSERT_TRUE(waitForEvents(*delegate, 1));
  const auto log = stopLog();

  ASSERT_EQ(log.size(), 4u) << testing::PrintToString(log);
  EXPECT_EQ(log[0], "");
  EXPECT_EQ(log[1], "逆地理编码请求Body:");
  EXPECT_EQ(nlohmann::json::parse(log[2]), nlohmann::json::parse(server.lastRequest().body));
  EXPECT_EQ(log[3], "逆地理编码成功，状态码: 200");
  ASSERT_NE(delegate->events[0].location, nullptr);
  EXPECT_EQ(delegate->events[0].location->location->position->point->longitude, 116.397);
}

}  // namespace
}  // namespace tovik::testing_support
