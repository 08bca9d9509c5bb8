// The reference service: its places database (the import from the GeoNames list, the
// queries it asks, the text matching behind them) and its HTTP front as any client sees it
// (status codes, JSON error bodies naming the faulty field, the key check, the access log,
// reloads under concurrent clients).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <tuple>

#include "server/country_index.h"
#include "server/nearest_index.h"
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

/// A connection straight to a database file, for the queries through its own trees that
/// the store's indexes in memory stand in for.
struct DirectConnection {
  explicit DirectConnection(const std::filesystem::path& db)
      : image(test::fileText(db)), connection(image, db.string()) {}
  std::string image;
  PlaceConnection connection;
};

/// The country lookup in memory and the polygon test through the database, side by side.
struct CountryLookups {
  explicit CountryLookups(const std::filesystem::path& db)
      : direct(db), index(CountryIndex::read(direct.connection.database())) {}

  std::string lookup(double latitude, double longitude) const {
    const std::string* country = index.countryAt(latitude, longitude);
    return country == nullptr ? std::string("-") : *country;
  }
  std::string polygonTest(double latitude, double longitude) {
    return direct.connection.countryAt(latitude, longitude).value_or("-");
  }
  /// Points where the two differ, beside every vertex of every slice: a hair to each side,
  /// on its latitude far away (where an edge along the parallel, which the slices leave
  /// out, may run) and on the cells' lines; and on a coarse grid over the globe.
  std::vector<std::string> differences() {
    std::vector<std::string> differing;
    const auto compare = [&](double latitude, double longitude) {
      if (std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 180.0) {
        ++compared;
        if (lookup(latitude, longitude) != polygonTest(latitude, longitude) && differing.size() < 10) {
          differing.push_back(std::to_string(latitude) + "," + std::to_string(longitude));
        }
      }
    };
    auto shapes = direct.connection.database().prepare("SELECT edges FROM country_shapes");
    std::size_t vertex = 0;
    while (shapes.step()) {
      const auto edges = shapes.columnBlob(0);
      for (std::size_t offset = 0; offset + 4 * sizeof(float) <= edges.size(); offset += 4 * sizeof(float)) {
        float edge[4];
        std::memcpy(edge, edges.data() + offset, sizeof edge);
        const double latitude = edge[0], longitude = edge[1];
        compare(latitude, longitude);
        if (++vertex % 2 == 0) {
          continue;  // a vertex ends two edges: half of them are enough for the rest
        }
        compare(latitude + 1e-7, longitude - 1e-7);
        compare(latitude - 1e-7, longitude + 1e-7);
        compare(std::nextafter(latitude, 90.0), longitude);
        compare(std::nextafter(latitude, -90.0), longitude);
        compare((edge[0] + edge[2]) / 2, (edge[1] + edge[3]) / 2);
        compare(latitude, longitude + 2.0);
        compare(std::nextafter(latitude, -90.0), longitude - 0.6);
        compare(std::floor(latitude / CountryIndex::kCell) * CountryIndex::kCell, longitude);
        compare(latitude, std::floor(longitude / CountryIndex::kCell) * CountryIndex::kCell);
      }
    }
    for (double latitude = -89.95; latitude < 90.0; latitude += 1.1) {
      for (double longitude = -179.9; longitude < 180.0; longitude += 1.3) {
        compare(latitude, longitude);
      }
    }
    return differing;
  }

  DirectConnection direct;
  const CountryIndex index;
  std::size_t compared = 0;
};

TEST(PlaceStoreTest, TheCountryLookupInMemoryAnswersAsThePolygonTest) {
  CountryLookups fixture(fixtureDatabase());
  for (const auto& c : test::loadOutcomes("server/data/border_points.txt")) {
    for (const auto& row : c.all("point")) {
      SCOPED_TRACE(c.name + ": " + row);
      double latitude = 0.0, longitude = 0.0;
      char country[3] = {};
      ASSERT_EQ(std::sscanf(row.c_str(), "%lf,%lf %2s", &latitude, &longitude, country), 3);
      EXPECT_EQ(fixture.polygonTest(latitude, longitude), country);
      EXPECT_EQ(fixture.lookup(latitude, longitude), country);
    }
  }
  EXPECT_THAT(fixture.differences(), ::testing::IsEmpty());
  EXPECT_GT(fixture.compared, 100000U);
  // Most cells are settled without a polygon test.
  EXPECT_GT(fixture.index.borderCells(), 0U);
  EXPECT_LT(fixture.index.borderCells(), CountryIndex::kCells / 100);

  // Boundaries drawn to run along parallels far from any other edge: a border on a
  // parallel, a ring across the antimeridian (closed through a run from 180 to -180, as
  // Natural Earth draws Fiji) and a ring that does not close, with the polygon test's
  // answers on each side of them.
  const auto drawn = writeFile("drawn/countries.json", R"({"type": "Topology", "arcs": [
      [[-110.0, 31.3], [-100.0, 31.3], [-100.0, 35.0], [-110.0, 35.0], [-110.0, 31.3]],
      [[179.0, -16.9], [180.0, -16.3], [-180.0, -16.8], [180.0, -16.8], [179.0, -16.9]],
      [[-95.0, 55.1], [-94.0, 50.3], [-96.0, 50.3]]],
    "objects": {"countries": {"type": "GeometryCollection", "geometries": [
      {"type": "Polygon", "id": "840", "properties": {"name": "United States of America"}, "arcs": [[0]]},
      {"type": "Polygon", "id": "242", "properties": {"name": "Fiji"}, "arcs": [[1]]},
      {"type": "Polygon", "id": "124", "properties": {"name": "Canada"}, "arcs": [[2]]}]}}})");
  const auto db = drawn.parent_path() / "places.sqlite";
  CityImporter(quiet).run({writeFile("drawn/cities.json", kLyonOnly), drawn, {}}, db);
  CountryLookups lookups(db);
  for (const auto& [latitude, longitude, country] :
       {std::tuple{31.31, -105.0, "US"}, {31.29, -105.0, "-"}, {-16.79, 0.0, "FJ"}, {-16.81, 0.0, "-"},
        {50.31, -94.6, "CA"}, {50.29, -94.6, "-"}}) {
    EXPECT_EQ(lookups.polygonTest(latitude, longitude), country) << latitude << "," << longitude;
    EXPECT_EQ(lookups.lookup(latitude, longitude), country) << latitude << "," << longitude;
  }
  EXPECT_THAT(lookups.differences(), ::testing::IsEmpty());
}

TEST(PlaceStoreTest, TheNearestPlaceInMemoryIsTheTreesAndTiesAreLeftToTheTree) {
  // Two places at one point, and a third beside them.
  const auto cities = writeFile("ties/cities.json", R"([
    {"name": "Twin A", "lat": "45.75", "lng": "4.85", "country": "FR", "admin1": "84", "admin2": "69"},
    {"name": "Twin B", "lat": "45.75", "lng": "4.85", "country": "FR", "admin1": "84", "admin2": "69"},
    {"name": "Third", "lat": "45.80", "lng": "4.90", "country": "FR", "admin1": "84", "admin2": "69"}])");
  const auto ties = cities.parent_path() / "places.sqlite";
  CityImporter(quiet).run(cities, ties);
  for (const auto& db : {fixtureDatabase(), ties}) {
    SCOPED_TRACE(db.filename().string());
    DirectConnection direct(db);
    const auto index = NearestIndex::read(direct.connection.database());
    const auto store = PlaceStore::open(db.string());
    std::vector<std::pair<double, double>> points = {{45.75, 4.85}, {45.7, 4.8}, {89.9, 180.0}, {-90.0, -180.0}};
    for (const auto& entry : store->within(0, 0, 2.1e7)) {
      for (const auto& [dLat, dLon] : {std::pair{0.0, 0.0}, {1e-6, 0.0}, {0.3, -0.2}, {-2.0, 1.0}}) {
        points.emplace_back(std::clamp(entry.place.latitude + dLat, -90.0, 90.0),
                            std::clamp(entry.place.longitude + dLon, -180.0, 180.0));
      }
    }
    for (double latitude = -89.0; latitude < 90.0; latitude += 7.3) {
      for (double longitude = -179.5; longitude <= 180.0; longitude += 11.9) {
        points.emplace_back(latitude, longitude);
      }
    }
    for (const auto& [latitude, longitude] : points) {
      SCOPED_TRACE(std::to_string(latitude) + "," + std::to_string(longitude));
      const double scale = std::max(std::cos(latitude * std::numbers::pi / 180.0), 0.01);
      const auto tree = direct.connection.nearest(latitude, longitude, scale);
      const auto found = index.nearest(latitude, longitude, scale);
      ASSERT_TRUE(tree && found);
      EXPECT_EQ(found->alone, !tree->name.starts_with("Twin"));
      if (found->alone) {
        EXPECT_EQ(found->id, tree->id);
      }
      const auto answered = store->nearest(latitude, longitude);
      ASSERT_TRUE(answered);
      EXPECT_EQ(answered->place.id, tree->id);
    }
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
