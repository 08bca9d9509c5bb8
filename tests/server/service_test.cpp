// The reference service: its places database (the import from the GeoNames list, the
// queries it asks, the text matching behind them) and its HTTP front as any client sees it
// (status codes, JSON error bodies naming the faulty field, the key check, the access log,
// reloads under concurrent clients).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "server/region_names.h"
#include "server/text_match.h"
#include "server_test_env.h"

namespace tovik::server {
namespace {

using namespace testing;
using nlohmann::json;

const CityImporter::Progress quiet = [](std::string_view) {};

TEST(CityImporterTest, MalformedInputIsRejectedAndLeavesNoDatabaseBehind) {
  // The places and countries of the fixture's import are what /healthz reports.
  const auto old = scratchDir() / "malformed" / "places.sqlite";
  const auto fresh = old.parent_path() / "fresh.sqlite";
  std::string last;
  const auto summary = CityImporter([&](std::string_view line) { last = line; }).run(fixtureSources(), old);
  EXPECT_EQ(summary.provinceCodes, 12U) << "every Chinese province of the fixture has its GB/T 2260 code";
  EXPECT_NE(last.find("imported 57 places"), std::string::npos) << last;
  const auto before = std::filesystem::file_size(old);

  const auto good = writeFile("bad-input/good.json", R"([{"name": "A", "lat": "1", "lng": "2", "country": "FR"}])");
  for (const auto& c : test::loadOutcomes("server/data/bad_imports.txt")) {
    SCOPED_TRACE(c.name + ": " + c["text"]);
    std::map<std::string, std::filesystem::path> files{{"cities", good}};
    files[c["file"]] = writeFile("bad-input/" + c["file"] + ".json", c["text"]);
    const CityImporter::Sources sources{files["cities"], files["countries"], files["provinces"]};
    for (const auto& db : {fresh, old}) {
      EXPECT_THAT([&] { CityImporter(quiet).run(sources, db); },
                  ::testing::ThrowsMessage<ImportError>(::testing::HasSubstr(c["message"])));
    }
    EXPECT_EQ(std::filesystem::file_size(old), before);
    EXPECT_EQ(std::ranges::distance(std::filesystem::directory_iterator(old.parent_path())), 1) << "only the old one";
  }
  EXPECT_THROW(CityImporter(quiet).run(scratchDir() / "no-such.json", fresh), ImportError);
  // Only a places database opens.
  EXPECT_THROW(PlaceStore::open(writeFile("not-db/places.sqlite", "just text").string()), std::runtime_error);
  EXPECT_THROW(PlaceStore::open(fresh.string()), std::runtime_error);

  // A Chinese province name needs the matching English one.
  EXPECT_EQ(RegionNames::chineseProvinceName("CN.22", "Beijing"), "北京市");
  EXPECT_FALSE(RegionNames::chineseProvinceName("CN.22", "Shanghai").has_value());
}

TEST(PlaceStoreTest, AStoreKeepsAnsweringFromItsFileWhenAnImportMovesANewOneOverThePath) {
  // After a reload the old store still serves the requests in flight; those that need a
  // further connection must not open what is now at the path.
  const auto lyon = writeFile("moved/lyon.json", kLyonOnly);
  const auto path = lyon.parent_path() / "places.sqlite";
  std::filesystem::copy_file(fixtureDatabase(), path);
  const auto store = PlaceStore::open(path.string());
  CityImporter(quiet).run(lyon, path);
  std::atomic<int> beijing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int k = 0; k < 50; ++k) {
        const auto found = store->nearest(39.9087, 116.3975);
        beijing += found && found->place.name == "Beijing" ? 1 : 0;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(beijing, 8 * 50);
  EXPECT_EQ(PlaceStore::open(path.string())->placeCount(), 1U) << "a new store reads the new file";
}

TEST(PlaceStoreTest, NearestMatchesAFullScanEverywhere) {
  // Beside every place of the fixture and a few degrees off, across the antimeridian, near
  // the pole and far from everything.
  std::vector<std::pair<double, double>> points = {{-18.1, -179.9}, {-13.9, -172.5}, {89.9, 0.0}, {-60.0, -100.0}};
  for (const auto& entry : fixtureStore()->within(0, 0, 2.1e7)) {
    for (const auto& [dLat, dLon] : {std::pair{0.0001, 0.0}, {0.3, 0.0}, {-0.2, 0.25}, {0.05, -0.4}, {-0.45, -0.1}}) {
      const double shifted = entry.place.longitude + dLon;
      const double longitude = shifted > 180 ? shifted - 360 : shifted < -180 ? shifted + 360 : shifted;
      points.emplace_back(std::clamp(entry.place.latitude + dLat, -89.9, 89.9), longitude);
    }
  }
  for (const auto& [latitude, longitude] : points) {
    const auto everything = fixtureStore()->within(latitude, longitude, 2.1e7);
    ASSERT_EQ(everything.size(), fixtureStore()->placeCount());
    ASSERT_TRUE(std::ranges::is_sorted(everything, {}, [](const auto& e) { return e.distance; }));
    const auto found = fixtureStore()->nearest(latitude, longitude);
    ASSERT_TRUE(found.has_value());
    EXPECT_LE(found->distance, everything.front().distance * 1.001 + 1.0)
        << latitude << "," << longitude << ": " << found->place.name << " vs " << everything.front().place.name;
  }
}

std::vector<std::string> split(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

TEST(TextMatchTest, FoldsQuotesAndRanksAsTheTableSays) {
  for (const auto& c : test::loadOutcomes("server/data/text_match.txt")) {
    SCOPED_TRACE(c.name + " " + c["text"] + c["words"]);
    if (c.name == "fold") {
      EXPECT_EQ(TextMatch::fold(c["text"]), c["expected"]);
    } else if (c.name == "query") {
      EXPECT_EQ(TextMatch::ftsQuery(split(c["words"]), c["column"], c["join"] == "all"), c["expected"]);
    } else if (c.name == "relevance") {
      EXPECT_DOUBLE_EQ(TextMatch::relevance(split(c["words"]), c["name"], split(c["region"])), std::stod(c["expected"]));
    } else {
      ASSERT_EQ(c.name, "matches");
      EXPECT_EQ(TextMatch::matchesAll(split(c["words"]), c["name"]), c["expected"] == "yes");
    }
  }
  EXPECT_EQ(TextMatch::words("New  York-City"), split("new york city"));
}

const std::string kTrackPoints = "/location/hub/v1/track_points";
const std::string kReverseBody = R"({"asset": "DEV", "id": "R-1", "timestamp": 1, "location": {"position": {"point": )"
                                 R"({"longitude": 116.3975, "latitude": 39.9087}, "spatialReference": "gcj02"}}})";

TEST(ServiceHttpTest, StatusAndErrorBodyForEveryFault) {
  EXPECT_THROW(AccessKeys::fromFile(writeFile("no-keys.txt", "# none\n").string()), std::runtime_error);
  EXPECT_THROW(AccessKeys::fromFile((scratchDir() / "absent" / "keys.txt").string()), std::runtime_error);
  RunningService service(
      AccessKeys::fromFile(writeFile("http-keys.txt", "# accepted keys\n\n  alpha  \r\nbeta\n").string()));
  httplib::Client client("127.0.0.1", service.port);
  for (const auto& c : test::loadOutcomes("server/data/http_answers.txt")) {
    const std::string status = c.name, method = c["method"], target = c["target"], body = test::replyOf(c).body;
    SCOPED_TRACE(method + " " + target.substr(0, 80) + " " + body.substr(0, 80));
    const auto answer = method == "POST" ? client.Post(target, body, "application/json") : client.Get(target);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json; charset=utf-8");
    const json reply = json::parse(answer->body, nullptr, false);
    if (answer->status == 200) {
      EXPECT_EQ(status, "200");
      for (const auto& piece : c.all("has")) {
        EXPECT_NE(answer->body.find(piece), std::string::npos) << piece << " is not in " << answer->body;
      }
    } else {
      ASSERT_TRUE(reply.is_object()) << answer->status << " " << answer->body;
      EXPECT_EQ(std::to_string(answer->status) + " " + reply.value("error", ""), status);
      EXPECT_FALSE(reply.value("message", "").empty());
      EXPECT_EQ(reply.value("field", ""), c["field"]);
    }
  }
}

TEST(ServiceHttpTest, ReloadsUnderConcurrentLoadFailNoRequestAndTheLogHidesTheKey) {
  // A second database holding Lyon alone, swapped in and out while kept-alive clients ask.
  const auto lyonDb = scratchDir() / "reload" / "places.sqlite";
  EXPECT_FALSE(CityImporter(quiet).run(writeFile("reload/cities.json", kLyonOnly), lyonDb).regionNames);
  const std::shared_ptr<const PlaceStore> stores[] = {PlaceStore::open(lyonDb.string()), fixtureStore()};
  const auto logFile = scratchDir() / "access.log";
  const auto log = AccessLog::open(logFile.string());
  constexpr int kClients = 8, kRequests = 60, kSwaps = 20;
  {
    RunningService service({}, log);
    std::atomic<int> answered{0}, failed{0};
    std::vector<std::jthread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", service.port);
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
      service.server.reloadStarting();
      service.server.replaceStore(stores[swap % 2]);
    }
    clients.clear();  // joins them
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(answered, kClients * kRequests);

    httplib::Client probe("127.0.0.1", service.port);
    probe.Get("/nowhere?access_key=TOPSECRET");
    // The operators' paths need no key and stay out of the access log.
    const auto health = probe.Get("/healthz");
    ASSERT_TRUE(health && health->status == 200);
    EXPECT_EQ(json::parse(health->body), json::parse(R"({"status": "ok", "places": 57, "countries": 4})"));
    service.server.replaceStore(stores[0]);
    const auto after = probe.Post(kTrackPoints + "?access_key=TOPSECRET", kReverseBody, "application/json");
    ASSERT_TRUE(after && after->status == 200);
    EXPECT_NE(after->body.find("\"Lyon\""), std::string::npos) << "a new request uses the new database";
    // Without the division files beside its list, a division's code stands for its name.
    EXPECT_NE(after->body.find(R"("France","type":"country"},{"code":"FR.84","name":"FR.84")"), std::string::npos);
    EXPECT_EQ(json::parse(probe.Get("/healthz")->body)["places"], 1);
    service.server.reloadStarting();
    EXPECT_EQ(probe.Get("/healthz")->status, 503);
    service.server.reloadFailed();
    EXPECT_EQ(probe.Get("/healthz")->status, 200);

    // A request is counted after its answer has gone; wait until only this probe is in flight.
    auto metrics = probe.Get("/metrics");
    for (int k = 0; k < 200 && metrics && metrics->body.find("tovik_requests_in_flight 1\n") == std::string::npos;
         ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      metrics = probe.Get("/metrics");
    }
    ASSERT_TRUE(metrics && metrics->status == 200);
    for (const auto& line : test::loadOutcomes("server/data/metrics_after_load.txt").at(0).all("line")) {
      EXPECT_NE(metrics->body.find("\n" + line), std::string::npos) << line << "\n" << metrics->body;
    }
  }
  // A line is written after its answer has gone; stopping the service waits for it.
  EXPECT_EQ(log->stats().requests, kClients * kRequests + 2U);
  const std::string text = test::fileText(logFile);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kClients * kRequests + 2);
  EXPECT_EQ(text.find("TOPSECRET"), std::string::npos);
  EXPECT_NE(text.find("\"POST /location/hub/v1/track_points?access_key=[redacted]\" 200"), std::string::npos);
  EXPECT_NE(text.find("\"GET /nowhere?access_key=[redacted]\" 404 "), std::string::npos);
}

TEST(AccessLogTest, WritesTheItemsAsTheServerReadThemAndNeverTheKey) {
  const auto logFile = scratchDir() / "redacted.log";
  const auto cases = test::loadOutcomes("server/data/redacted_targets.txt");
  // 6 bytes, then four-byte escapes: the cut at 512 bytes would fall inside the 127th.
  const std::string longTarget = "/p?n=" + std::string(1, 'v') + [] {
    std::string bytes;
    for (int k = 0; k < 200; ++k) bytes += "%FF";
    return bytes;
  }();
  {
    RunningService service({}, AccessLog::open(logFile.string()));
    for (const auto& [target, body] : [&] {
           std::vector<std::pair<std::string, std::string>> requests;
           for (const auto& c : cases) requests.emplace_back(c["target"], c["form"]);
           requests.emplace_back(longTarget, "");
           return requests;
         }()) {
      RawConnection connection(service.port);
      connection.send((body.empty() ? "GET " : "POST ") + target + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n" +
                      (body.empty() ? "" : "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n") +
                      "\r\n" + body);
      EXPECT_NE(statusOf(connection.receive()), 0) << target;
    }
  }
  const std::string text = test::fileText(logFile);
  EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
  for (const auto& c : cases) {
    const std::string method = c["form"].empty() ? "GET " : "POST ";
    EXPECT_NE(text.find("\"" + method + c["logged"] + "\" "), std::string::npos) << c.name << "\n" << text;
  }
  const auto cut = text.find("\"GET /p?n=v\\xFF");
  ASSERT_NE(cut, std::string::npos) << text;
  const std::string logged = text.substr(cut + 5, text.find('"', cut + 5) - cut - 5);
  EXPECT_EQ(logged.size(), 6 + 126 * 4 + 3U) << logged;
  EXPECT_TRUE(logged.ends_with("\\xFF...")) << logged;
}

}  // namespace
}  // namespace tovik::server
