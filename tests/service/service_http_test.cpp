// The service's HTTP front as any client sees it: status codes, JSON error bodies, the
// key check, the access log and concurrent clients.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "service_test_env.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"

namespace tovik::service {
namespace {

using nlohmann::json;
using testing::RunningService;

constexpr const char* kTrackPoints = "/location/hub/v1/track_points";
constexpr const char* kReverseBody =
    R"({"asset": "DEV", "id": "R-1", "timestamp": 1, "location": {"position": {"point": {"longitude": 116.3975, "latitude": 39.9087}, "spatialReference": "gcj02"}}})";

struct Exchange {
  int status = 0;
  json body;
  std::string contentType;
};

Exchange exchange(const RunningService& service, const std::string& method, const std::string& target,
                  const std::string& body = "") {
  httplib::Client client("127.0.0.1", service.port());
  const auto result = method == "POST" ? client.Post(target.c_str(), body, "application/json") : client.Get(target.c_str());
  EXPECT_TRUE(result) << target;
  if (!result) {
    return {};
  }
  return {result->status, json::parse(result->body, nullptr, false), result->get_header_value("Content-Type")};
}

TEST(ServiceHttpTest, StatusAndErrorBodyForEveryFault) {
  const auto keysFile = testing::scratchDir() / "http-keys.txt";
  std::ofstream(keysFile) << "alpha\n";
  RunningService service(AccessKeys::fromFile(keysFile.string()));
  const std::string big(LocationServer::kMaxBody + 1, ' ');
  const struct {
    std::string method;
    std::string target;
    std::string body;
    int status;
    std::string error;
    std::string field;
  } cases[] = {
      {"POST", std::string(kTrackPoints) + "?access_key=alpha", kReverseBody, 200, "", ""},
      {"POST", std::string(kTrackPoints) + "?response_sprf=gcj02", kReverseBody, 401, "unauthorized", ""},
      {"POST", std::string(kTrackPoints) + "?access_key=", kReverseBody, 401, "unauthorized", ""},
      {"POST", std::string(kTrackPoints) + "?access_key=beta", kReverseBody, 401, "unauthorized", ""},
      {"POST", std::string(kTrackPoints) + "?access_key=beta", "{broken", 401, "unauthorized", ""},
      {"POST", std::string(kTrackPoints) + "?access_key=alpha&access_key=beta", kReverseBody, 400, "bad_request",
       "access_key"},
      {"POST", std::string(kTrackPoints) + "?access_key=alpha", "{broken", 400, "bad_request", "body"},
      {"POST", std::string(kTrackPoints) + "?access_key=alpha&response_sprf=utm", kReverseBody, 400, "bad_request",
       "response_sprf"},
      {"POST", std::string(kTrackPoints) + "?access_key=alpha", big, 413, "payload_too_large", ""},
      {"GET", kTrackPoints, "", 405, "method_not_allowed", ""},
      {"POST", "/location/scenario/v1/geocode?access_key=alpha", "", 405, "method_not_allowed", ""},
      {"GET", "/location/scenario/v1/geocode?access_key=alpha&address=Paris&city=", "", 200, "", ""},
      {"GET", "/location/scenario/v1/geocode?access_key=alpha&city=Paris", "", 400, "bad_request", "address"},
      {"GET", "/location/scenario/v1/nearbysearch?access_key=alpha&location=39.9", "", 400, "bad_request", "location"},
      {"GET", "/location/scenario/v1/placesearch?access_key=alpha&name=Paris&page_size=0", "", 400, "bad_request",
       "page_size"},
      {"GET", "/location/scenario/v1/unknown?access_key=alpha", "", 404, "not_found", ""},
      {"GET", "/../../etc/passwd", "", 404, "not_found", ""},
  };
  for (const auto& c : cases) {
    const auto answer = exchange(service, c.method, c.target, c.body);
    const std::string label = c.method + " " + c.target.substr(0, 80);
    EXPECT_EQ(answer.status, c.status) << label << ": " << answer.body.dump();
    EXPECT_EQ(answer.contentType, "application/json; charset=utf-8") << label;
    if (c.status == 200) {
      continue;
    }
    ASSERT_TRUE(answer.body.is_object()) << label;
    EXPECT_EQ(answer.body.value("error", ""), c.error) << label;
    EXPECT_FALSE(answer.body.value("message", "").empty()) << label;
    EXPECT_EQ(answer.body.value("field", ""), c.field) << label;
  }
}

TEST(ServiceHttpTest, AnswersDecodeAsTheKitsResults) {
  RunningService service;
  const auto reverse = exchange(service, "POST", std::string(kTrackPoints) + "?access_key=demo", kReverseBody);
  ASSERT_EQ(reverse.status, 200);
  const auto location = LocationRes::decode(reverse.body);
  EXPECT_EQ(location->id, "R-1");
  EXPECT_EQ(location->asset, "DEV");
  ASSERT_NE(location->location->place, nullptr);
  EXPECT_EQ(location->location->place->name, "Beijing");

  const auto list = exchange(service, "GET",
                             "/location/scenario/v1/nearbysearch?access_key=demo&name=&location=2.3522,48.8566"
                             "&radius=20000&category=&orderby=distance&page_index=1&page_size=50");
  ASSERT_EQ(list.status, 200);
  const auto places = decodeGeocodeList(list.body);
  EXPECT_EQ(places.size(), 8U) << "Paris and seven places of Île-de-France within 20 km";
}

TEST(ServiceHttpTest, LogsEveryRequestWithoutTheKey) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const auto log = std::make_shared<AccessLog>(file, false);
  {
    RunningService service({}, log);
    exchange(service, "POST", std::string(kTrackPoints) + "?access_key=TOPSECRET", kReverseBody);
    exchange(service, "GET", "/nowhere?access_key=TOPSECRET");
  }
  // The line is written after the answer has gone; stopping the service waits for it.
  EXPECT_EQ(log->stats().requests, 2U);
  std::rewind(file);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_EQ(text.find("TOPSECRET"), std::string::npos) << text;
  EXPECT_NE(text.find("\"POST /location/hub/v1/track_points?access_key=[redacted]\" 200"), std::string::npos) << text;
  EXPECT_NE(text.find("\" 404 "), std::string::npos) << text;
}

TEST(ServiceHttpTest, ConcurrentKeptAliveClients) {
  const auto log = std::make_shared<AccessLog>(nullptr, false);
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  {
  RunningService service({}, log, 8);
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", service.port());
      client.set_keep_alive(true);
      for (int k = 0; k < 25; ++k) {
        const auto result =
            (c % 2 == 0) ? client.Post((std::string(kTrackPoints) + "?access_key=demo").c_str(), kReverseBody,
                                       "application/json")
                         : client.Get("/location/scenario/v1/nearbysearch?access_key=demo&location=116.404,39.915&radius=3000");
        if (result && result->status == 200) {
          ++answered;
        } else {
          ++wrong;
        }
      }
    });
  }
  for (auto& client : clients) {
    client.join();
  }
  }
  EXPECT_EQ(answered, 200);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(log->stats().requests, 200U);
}

}  // namespace
}  // namespace tovik::service
