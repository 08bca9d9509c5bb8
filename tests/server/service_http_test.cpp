// The service's HTTP front as any client sees it: status codes, JSON error bodies naming
// the faulty field, the key check, the access log and concurrent clients.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "server_test_env.h"

namespace tovik::server {
namespace {

using nlohmann::json;
using testing::RunningService;

const std::string kTrackPoints = "/location/hub/v1/track_points";
const std::string kReverseBody = R"({"asset": "DEV", "id": "R-1", "timestamp": 1, "location": {"position": {"point": )"
                                 R"({"longitude": 116.3975, "latitude": 39.9087}, "spatialReference": "gcj02"}}})";

TEST(ServiceHttpTest, StatusAndErrorBodyForEveryFault) {
  EXPECT_THROW(AccessKeys::fromFile(testing::writeFile("no-keys.txt", "# none\n").string()), std::runtime_error);
  EXPECT_THROW(AccessKeys::fromFile((testing::scratchDir() / "absent" / "keys.txt").string()), std::runtime_error);
  RunningService service(
      AccessKeys::fromFile(testing::writeFile("http-keys.txt", "# accepted keys\n\n  alpha  \r\nbeta\n").string()));
  auto cases = testing::readTable("http_answers.txt");
  const std::string tooLong(LocationServer::kMaxBody + 1, ' ');
  cases.push_back({"413 payload_too_large", "", "POST", kTrackPoints + "?access_key=alpha", tooLong});
  httplib::Client client("127.0.0.1", service.port());
  for (const auto& row : cases) {
    const std::string &status = row.at(0), &field = row.at(1), &method = row.at(2), &target = row.at(3),
                      &body = row.at(4);
    SCOPED_TRACE(method + " " + target.substr(0, 80) + " " + body.substr(0, 80));
    const auto answer = method == "POST" ? client.Post(target, body, "application/json") : client.Get(target);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json; charset=utf-8");
    const json reply = json::parse(answer->body, nullptr, false);
    if (answer->status == 200) {
      EXPECT_EQ(status, "200");
      for (std::size_t k = 5; k < row.size(); ++k) {
        EXPECT_NE(answer->body.find(row[k]), std::string::npos) << row[k] << " is not in " << answer->body;
      }
    } else {
      ASSERT_TRUE(reply.is_object()) << answer->status << " " << answer->body;
      EXPECT_EQ(std::to_string(answer->status) + " " + reply.value("error", ""), status);
      EXPECT_FALSE(reply.value("message", "").empty());
      EXPECT_EQ(reply.value("field", ""), field);
    }
  }
}

TEST(ServiceHttpTest, ReloadsUnderConcurrentLoadFailNoRequestAndTheLogHidesTheKey) {
  // A second database holding Lyon alone, swapped in and out while kept-alive clients ask.
  const auto lyonDb = testing::scratchDir() / "reload" / "places.sqlite";
  const auto lyonCities = testing::writeFile("reload/cities.json", testing::kLyonOnly);
  EXPECT_FALSE(CityImporter([](std::string_view) {}).run(lyonCities, lyonDb).regionNames);
  const std::shared_ptr<const PlaceStore> stores[] = {PlaceStore::open(lyonDb.string()), testing::fixtureStore()};
  const auto logFile = testing::scratchDir() / "access.log";
  const auto log = std::make_shared<AccessLog>(std::fopen(logFile.c_str(), "w"), true);
  constexpr int kClients = 8;
  constexpr int kRequests = 60;
  constexpr int kSwaps = 20;
  {
    RunningService service({}, log);
    std::atomic<int> answered{0};
    std::atomic<int> failed{0};
    std::vector<std::jthread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", service.port());
        client.set_keep_alive(true);
        // A POST goes out as two writes; with Nagle the body waits ~40 ms for an ACK.
        client.set_tcp_nodelay(true);
        for (int k = 0; k < kRequests; ++k) {
          const auto result =
              c % 2 == 0 ? client.Post(kTrackPoints + "?access_key=TOPSECRET", kReverseBody, "application/json")
                         : client.Get("/location/scenario/v1/nearbysearch?access_key=TOPSECRET&location=116.4,39.9");
          // Either database answers a POST, from Lyon or from Beijing.
          const bool good = result && result->status == 200 &&
                            (c % 2 == 1 || result->body.find("\"Lyon\"") != std::string::npos ||
                             result->body.find("\"Beijing\"") != std::string::npos);
          (good ? answered : failed) += 1;
        }
      });
    }
    for (int swap = 0; swap < kSwaps; ++swap) {
      // Swap as the answers come in, so that every swap meets requests in flight.
      while (answered + failed < (swap + 1) * kClients * kRequests / (kSwaps + 1)) {
        std::this_thread::yield();
      }
      service.server().reloadStarting();
      service.server().replaceStore(stores[swap % 2]);
    }
    clients.clear();  // joins them
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(answered, kClients * kRequests);

    httplib::Client probe("127.0.0.1", service.port());
    probe.Get("/nowhere?access_key=TOPSECRET");
    // The operators' paths need no key and stay out of the access log.
    const auto health = probe.Get("/healthz");
    ASSERT_TRUE(health && health->status == 200);
    EXPECT_EQ(json::parse(health->body), json::parse(R"({"status": "ok", "places": 57, "countries": 4})"));
    service.server().replaceStore(stores[0]);
    const auto after = probe.Post(kTrackPoints + "?access_key=TOPSECRET", kReverseBody, "application/json");
    ASSERT_TRUE(after && after->status == 200);
    EXPECT_NE(after->body.find("\"Lyon\""), std::string::npos) << "a new request uses the new database";
    // Without the division files beside its list, a division's code stands for its name.
    EXPECT_NE(after->body.find(R"({"code":"FR","name":"France","type":"country"},{"code":"FR.84","name":"FR.84")"),
              std::string::npos)
        << after->body;
    EXPECT_EQ(json::parse(probe.Get("/healthz")->body)["places"], 1);
    service.server().reloadStarting();
    EXPECT_EQ(probe.Get("/healthz")->status, 503);
    service.server().reloadFailed();
    EXPECT_EQ(probe.Get("/healthz")->status, 200);

    // A request is counted after its answer has gone; wait until only this probe is in flight.
    auto metrics = probe.Get("/metrics");
    for (int k = 0; k < 200 && metrics && metrics->body.find("tovik_requests_in_flight 1\n") == std::string::npos;
         ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      metrics = probe.Get("/metrics");
    }
    ASSERT_TRUE(metrics && metrics->status == 200);
    for (const auto& line : testing::readTable("metrics_after_load.txt")) {
      EXPECT_NE(metrics->body.find("\n" + line.at(0)), std::string::npos) << line[0] << "\n" << metrics->body;
    }
  }
  // A line is written after its answer has gone; stopping the service waits for it.
  constexpr int kLogged = kClients * kRequests + 2;
  EXPECT_EQ(log->stats().requests, static_cast<std::size_t>(kLogged));
  std::ostringstream logged;
  logged << std::ifstream(logFile).rdbuf();
  const std::string text = logged.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kLogged);
  EXPECT_EQ(text.find("TOPSECRET"), std::string::npos);
  EXPECT_NE(text.find("\"POST /location/hub/v1/track_points?access_key=[redacted]\" 200"), std::string::npos);
  EXPECT_NE(text.find("\"GET /nowhere?access_key=[redacted]\" 404 "), std::string::npos);
}

TEST(AccessLogTest, RedactsTheKeyHoweverItIsWritten) {
  for (const auto& row : testing::readTable("redacted_targets.txt")) {
    EXPECT_EQ(AccessLog::redact(row.at(0)), row.at(1)) << row[0];
  }
  EXPECT_EQ(AccessLog::redact("/p?name=a\nb"), "/p?name=a\\x0Ab") << "a line break cannot end the line early";
}

}  // namespace
}  // namespace tovik::server
