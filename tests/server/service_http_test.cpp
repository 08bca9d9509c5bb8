// The service's HTTP front as any client sees it: status codes, JSON error bodies naming
// the faulty field, the key check, the access log and concurrent clients.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "server_test_env.h"

namespace tovik::server {
namespace {

using nlohmann::json;
using testing::RunningService;

const std::string kTrackPoints = "/location/hub/v1/track_points";
const std::string kReverseBody =
    R"({"asset": "DEV", "id": "R-1", "timestamp": 1, "location": {"position": {"point": )"
    R"({"longitude": 116.3975, "latitude": 39.9087}, "spatialReference": "gcj02"}}})";

std::string keysFile(const std::string& name, const std::string& text) {
  const auto path = testing::scratchDir() / name;
  std::ofstream(path) << text;
  return path.string();
}

TEST(ServiceHttpTest, StatusAndErrorBodyForEveryFault) {
  EXPECT_THROW(AccessKeys::fromFile(keysFile("no-keys.txt", "# none\n")), std::runtime_error);
  EXPECT_THROW(AccessKeys::fromFile(keysFile("absent/keys.txt", "")), std::runtime_error);
  RunningService service(AccessKeys::fromFile(keysFile("http-keys.txt", "# accepted keys\n\n  alpha  \r\nbeta\n")));
  const std::map<int, std::string> errors = {{400, "bad_request"},        {401, "unauthorized"},
                                             {404, "not_found"},          {405, "method_not_allowed"},
                                             {413, "payload_too_large"}};
  const std::string track = kTrackPoints + "?access_key=alpha";
  const std::string scenario = "/location/scenario/v1/";
  const std::string nearby = scenario + "nearbysearch?access_key=alpha&location=116.4,39.9";
  const std::string gnss = R"({"asset": {"id": "d"}, "timestamp": 1, "id": "x", "location": {"gnss": )";
  const std::string point = R"({"asset": "d", "location": {"position": {"point": )";
  const struct {
    std::string method;
    std::string target;
    std::string body;
    int status;
    std::string field = "";
  } cases[] = {
      {"POST", track, kReverseBody, 200},
      {"POST", kTrackPoints + "?access_key=beta", kReverseBody, 200},
      {"POST", kTrackPoints + "?response_sprf=gcj02", kReverseBody, 401},
      {"POST", kTrackPoints + "?access_key=gamma", kReverseBody, 401},
      {"POST", kTrackPoints + "?access_key=%23%20accepted%20keys", kReverseBody, 401},
      {"POST", kTrackPoints + "?access_key=gamma", "{broken", 401},  // the key is checked first
      {"POST", track + "&access_key=beta", kReverseBody, 400, "access_key"},
      {"POST", track, std::string(LocationServer::kMaxBody + 1, ' '), 413},
      {"GET", kTrackPoints, "", 405},
      {"GET", scenario + "unknown?access_key=alpha", "", 404},
      {"GET", "/../../etc/passwd", "", 404},
      // Bodies and query items the calls refuse.
      {"POST", track, "{broken", 400, "body"},
      {"POST", track, "[1, 2]", 400, "body"},
      {"POST", track, std::string(40, '[') + std::string(40, ']'), 400, "body"},
      {"POST", track, R"({"location": {}})", 400, "asset"},
      {"POST", track, R"({"asset": 5})", 400, "asset"},
      {"POST", track, gnss + R"({"accuracy": 1}}})", 400, "location.gnss.point"},
      {"POST", track, gnss + R"({"point": {"longitude": 1, "latitude": 95}, "accuracy": 1}}})", 400,
       "location.gnss.point.latitude"},
      {"POST", track, point + R"({"longitude": "116", "latitude": 39}}}})", 400, "location.position.point.longitude"},
      {"POST", track, point + R"({"longitude": 181, "latitude": 39}}}})", 400, "location.position.point.longitude"},
      {"POST", track, point + R"({"longitude": 1, "latitude": 2}, "spatialReference": "utm"}}})", 400,
       "location.position.spatialReference"},
      {"POST", track + "&response_sprf=mercator", kReverseBody, 400, "response_sprf"},
      {"POST", track + "&response_sprf=gcj02&response_sprf=wgs84", kReverseBody, 400, "response_sprf"},
      {"POST", track + "&needAddress=yes", kReverseBody, 400, "needAddress"},
      {"GET", scenario + "nearbysearch?access_key=alpha&location=%202.35%20,%20%2B48.85%20&orderby=Relevance", "", 200},
      {"GET", scenario + "nearbysearch?access_key=alpha", "", 400, "location"},
      {"GET", scenario + "nearbysearch?access_key=alpha&location=116.4", "", 400, "location"},
      {"GET", scenario + "nearbysearch?access_key=alpha&location=116.4,abc", "", 400, "location"},
      {"GET", scenario + "nearbysearch?access_key=alpha&location=39.9,200", "", 400, "location"},
      {"GET", scenario + "nearbysearch?access_key=alpha&location=nan,1", "", 400, "location"},
      {"GET", nearby + "&radius=0", "", 400, "radius"},
      {"GET", nearby + "&radius=100001", "", 400, "radius"},
      {"GET", nearby + "&radius=12abc", "", 400, "radius"},
      {"GET", nearby + "&orderby=price", "", 400, "orderby"},
      {"GET", nearby + "&page_index=0", "", 400, "page_index"},
      {"GET", nearby + "&page_size=51", "", 400, "page_size"},
      {"GET", nearby + "&page_size=99999999999999", "", 400, "page_size"},
      {"GET", nearby + "&name=" + std::string(300, 'x'), "", 400, "name"},
      {"GET", scenario + "placesearch?access_key=alpha&name=%20,,%20", "", 400, "name"},
      // Full-text query syntax in a name is only ever a quoted word.
      {"GET", scenario + "placesearch?access_key=alpha&name=%22%20*%20NEAR(a%20b)%20name:x%20%5E", "", 200},
      {"GET", scenario + "placesearch?access_key=alpha&name=a%20OR%20b&city_code=CN", "", 200},
      {"GET", scenario + "geocode?access_key=alpha&address=Paris&city=", "", 200},
      {"GET", scenario + "geocode?access_key=alpha&city=Beijing", "", 400, "address"},
      {"GET", scenario + "geocode?access_key=alpha&address=a&address=b", "", 400, "address"},
  };
  httplib::Client client("127.0.0.1", service.port());
  for (const auto& c : cases) {
    const std::string label = c.method + " " + c.target.substr(0, 80) + " " + c.body.substr(0, 80);
    const auto answer = c.method == "POST" ? client.Post(c.target, c.body, "application/json") : client.Get(c.target);
    ASSERT_TRUE(answer) << label;
    const json body = json::parse(answer->body, nullptr, false);
    EXPECT_EQ(answer->status, c.status) << label << ": " << answer->body;
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json; charset=utf-8") << label;
    if (c.status != 200) {
      ASSERT_TRUE(body.is_object()) << label;
      EXPECT_EQ(body.value("error", ""), errors.at(c.status)) << label;
      EXPECT_FALSE(body.value("message", "").empty()) << label;
      EXPECT_EQ(body.value("field", ""), c.field) << label;
    }
  }
}

TEST(ServiceHttpTest, ConcurrentKeptAliveClientsAreLoggedWithoutTheKey) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const auto log = std::make_shared<AccessLog>(file, false);
  std::atomic<int> answered{0};
  {
    RunningService service({}, log);
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", service.port());
        client.set_keep_alive(true);
        // A POST goes out as two writes; with Nagle the body waits ~40 ms for an ACK.
        client.set_tcp_nodelay(true);
        for (int k = 0; k < 25; ++k) {
          const auto result =
              c % 2 == 0 ? client.Post(kTrackPoints + "?access_key=TOPSECRET", kReverseBody, "application/json")
                         : client.Get("/location/scenario/v1/nearbysearch?access_key=TOPSECRET&location=116.4,39.9");
          answered += result && result->status == 200 ? 1 : 0;
        }
      });
    }
    for (auto& client : clients) {
      client.join();
    }
    httplib::Client probe("127.0.0.1", service.port());
    probe.Get("/nowhere?access_key=TOPSECRET");
    // The operators' paths need no key and stay out of the access log.
    const auto health = probe.Get("/healthz");
    ASSERT_TRUE(health && health->status == 200);
    EXPECT_EQ(json::parse(health->body), json::parse(R"({"status": "ok", "places": 57, "countries": 4})"));
    // A request is counted after its answer has gone; wait until only this probe is in flight.
    auto metrics = probe.Get("/metrics");
    for (int k = 0; k < 200 && metrics && metrics->body.find("tovik_requests_in_flight 1\n") == std::string::npos; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      metrics = probe.Get("/metrics");
    }
    ASSERT_TRUE(metrics && metrics->status == 200);
    for (const char* line : {"tovik_requests_total{call=\"track_points\",status=\"200\"} 100",
                             "tovik_requests_total{call=\"nearbysearch\",status=\"200\"} 100",
                             "tovik_requests_total{call=\"other\",status=\"404\"} 1",
                             "tovik_request_duration_seconds_count{call=\"track_points\"} 100",
                             "tovik_requests_in_flight 1", "tovik_database_reloads_total 0"}) {
      EXPECT_NE(metrics->body.find(line), std::string::npos) << line << "\n" << metrics->body;
    }
    EXPECT_NE(metrics->body.find("tovik_worker_wait_longest_seconds "), std::string::npos);
  }
  // A line is written after its answer has gone; stopping the service waits for it.
  EXPECT_EQ(answered, 200);
  EXPECT_EQ(log->stats().requests, 201U);
  std::rewind(file);
  std::string text(1 << 16, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  std::fclose(file);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 201);
  EXPECT_EQ(text.find("TOPSECRET"), std::string::npos);
  EXPECT_NE(text.find("\"POST /location/hub/v1/track_points?access_key=[redacted]\" 200"), std::string::npos);
  EXPECT_NE(text.find("\"GET /nowhere?access_key=[redacted]\" 404 "), std::string::npos);
}

TEST(ServiceHttpTest, ReloadUnderLoadFailsNoRequest) {
  // A second database holding Lyon alone, swapped in and out while clients keep asking.
  const auto lyonCities = testing::scratchDir() / "reload" / "cities.json";
  std::filesystem::create_directories(lyonCities.parent_path());
  std::ofstream(lyonCities) << R"([{"name": "Lyon", "lat": "45.75", "lng": "4.85", "country": "FR"}])";
  const auto lyonDb = lyonCities.parent_path() / "places.sqlite";
  CityImporter([](std::string_view) {}).run(lyonCities, lyonDb);
  const std::shared_ptr<const PlaceStore> stores[] = {PlaceStore::open(lyonDb.string()), testing::fixtureStore()};

  RunningService service;
  constexpr int kClients = 4;
  constexpr int kRequests = 150;
  constexpr int kSwaps = 20;
  std::atomic<int> answered{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", service.port());
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (int k = 0; k < kRequests; ++k) {
        const auto result = client.Post(kTrackPoints + "?access_key=k", kReverseBody, "application/json");
        const bool good = result && result->status == 200 &&
                          (result->body.find("\"Lyon\"") != std::string::npos ||
                           result->body.find("\"Beijing\"") != std::string::npos);
        (good ? answered : failed) += 1;
      }
    });
  }
  for (int swap = 0; swap < kSwaps; ++swap) {
    // Swap as the answers come in, so that every swap meets requests in flight.
    const int due = (swap + 1) * kClients * kRequests / (kSwaps + 1);
    while (answered + failed < due) {
      std::this_thread::yield();
    }
    service.server().reloadStarting();
    service.server().replaceStore(stores[swap % 2]);
  }
  for (auto& client : clients) {
    client.join();
  }
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(answered, kClients * kRequests);
  httplib::Client probe("127.0.0.1", service.port());
  service.server().replaceStore(stores[0]);
  const auto after = probe.Post(kTrackPoints + "?access_key=k", kReverseBody, "application/json");
  ASSERT_TRUE(after && after->status == 200);
  EXPECT_NE(after->body.find("\"Lyon\""), std::string::npos) << "a new request uses the new database";
  EXPECT_EQ(json::parse(probe.Get("/healthz")->body)["places"], 1);
  service.server().reloadStarting();
  EXPECT_EQ(probe.Get("/healthz")->status, 503);
  service.server().reloadFailed();
  EXPECT_EQ(probe.Get("/healthz")->status, 200);
  EXPECT_NE(probe.Get("/metrics")->body.find("tovik_database_reloads_total " + std::to_string(kSwaps + 1)),
            std::string::npos);
}

TEST(AccessLogTest, RedactsTheKeyHoweverItIsWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"/p?access_key=SECRET&name=x", "/p?access_key=[redacted]&name=x"},
      {"/p?name=x&access%5Fkey=SECRET", "/p?name=x&access%5Fkey=[redacted]"},
      {"/p?access_key=SECRET&access_key=TWO", "/p?access_key=[redacted]&access_key=[redacted]"},
      {"/p?access_key", "/p?access_key=[redacted]"},
      {"/p?access_keys=visible", "/p?access_keys=visible"},
      {"/p?name=a\nb\"c", "/p?name=a\\x0Ab\\x22c"},
      {"/plain", "/plain"},
  };
  for (const auto& [target, logged] : cases) {
    EXPECT_EQ(AccessLog::redact(target), logged) << target;
  }
}

}  // namespace
}  // namespace tovik::server
