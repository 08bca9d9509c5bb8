// The places database: its import from the GeoNames list and the queries the service asks.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <fstream>
#include <string>
#include <vector>

#include "server/city_importer.h"
#include "server/place_store.h"
#include "server/region_names.h"
#include "server/track_points_handler.h"
#include "tovik/model/address.h"
#include "tovik/model/distance_info.h"
#include "tovik/model/location_detail.h"
#include "tovik/model/place_info.h"
#include "server_test_env.h"

namespace tovik::server {
namespace {

using namespace testing;

const CityImporter::Progress quiet = [](std::string_view) {};

std::filesystem::path writeFile(const std::string& folder, const std::string& name, const std::string& text) {
  std::filesystem::create_directories(scratchDir() / folder);
  std::ofstream(scratchDir() / folder / name) << text;
  return scratchDir() / folder / name;
}

std::ptrdiff_t entries(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
}

TEST(CityImporterTest, MalformedInputIsRejectedAndLeavesNoDatabaseBehind) {
  const auto fresh = scratchDir() / "fresh" / "places.sqlite";
  const auto old = scratchDir() / "malformed" / "places.sqlite";
  std::filesystem::create_directories(fresh.parent_path());
  std::vector<std::string> lines;
  const auto summary =
      CityImporter([&](std::string_view line) { lines.emplace_back(line); }).run(fixtureSources(), old);
  EXPECT_TRUE(summary.places == 57U && summary.regionNames);
  EXPECT_EQ(summary.countries, 4U);
  EXPECT_EQ(summary.provinceCodes, 12U) << "every Chinese province of the fixture has its GB/T 2260 code";
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("imported 57 places"), std::string::npos) << lines.back();
  EXPECT_EQ(PlaceStore::open(old.string())->placeCount(), 57U);
  EXPECT_EQ(PlaceStore::open(old.string())->countryCount(), 4U);
  const auto before = std::filesystem::file_size(old);

  const std::string good = R"({"name": "A", "lat": "1", "lng": "2", "country": "FR", "admin1": "", "admin2": ""})";
  const struct {
    std::string text;
    std::string expected;  // part of the message
  } cases[] = {
      {"", "not valid JSON"},
      {"{\"name\": \"A\"}", "expected a JSON array"},
      {"[]", "holds no places"},
      {"[" + good + ", 7]", "entry 1 is not an object"},
      {R"([{"lat": "1", "lng": "2", "country": "FR"}])", "entry 0: \"name\" is missing"},
      {R"([{"name": "A", "lat": "north", "lng": "2", "country": "FR"}])", "entry 0: \"lat\" is not a number"},
      {R"([{"name": "A", "lat": "91", "lng": "2", "country": "FR"}])", "\"lat\" is out of range"},
      {R"([{"name": "A", "lat": "1", "lng": "2", "country": "France"}])", "\"country\""},
      {R"([{"name": "A", "lat": "1", "lng": "2", "country": "FR", "admin1": 3}])", "\"admin1\" is not a string"},
  };
  // The boundaries and the province codes are checked as strictly.
  const std::string city = "[" + good + "]";
  const auto goodCities = writeFile("bad-input", "cities.json", city);
  const struct {
    std::string countries;
    std::string provinces;
    std::string expected;
  } sideCases[] = {
      {R"({"type": "Topology"})", "", "no \"arcs\" array"},
      {R"({"arcs": [[[0, 0], [1, 1]]], "objects": {"countries": {"geometries": [)"
       R"({"id": "156", "type": "Polygon", "arcs": [[4]]}]}}})",
       "", "arc 4 does not exist"},
      {R"({"arcs": [[[0, 0], [200, 1]]], "objects": {"countries": {"geometries": []}}})", "", "outside the globe"},
      {R"({"arcs": [], "objects": {"countries": {"geometries": []}}})", "", "holds no country boundaries"},
      {"", R"([{"code": "110000", "name": "北京市"}])", "not a two-digit province code"},
  };
  for (const auto& c : sideCases) {
    CityImporter::Sources sources{goodCities, {}, {}};
    if (!c.countries.empty()) {
      sources.countries = writeFile("bad-input", "countries.json", c.countries);
    }
    if (!c.provinces.empty()) {
      sources.provinces = writeFile("bad-input", "provinces.json", c.provinces);
    }
    try {
      CityImporter(quiet).run(sources, fresh);
      ADD_FAILURE() << "accepted: " << c.countries << c.provinces;
    } catch (const ImportError& error) {
      EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << error.what();
    }
    EXPECT_EQ(entries(fresh.parent_path()), 0) << c.expected;
  }
  for (const auto& c : cases) {
    const auto input = writeFile("bad-input", "cities.json", c.text);
    for (const auto& db : {fresh, old}) {
      try {
        CityImporter(quiet).run(input, db);
        ADD_FAILURE() << "accepted: " << c.text;
      } catch (const ImportError& error) {
        EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << error.what();
      }
    }
    EXPECT_EQ(entries(fresh.parent_path()), 0) << c.text;
    EXPECT_EQ(std::filesystem::file_size(old), before) << c.text;
    EXPECT_EQ(entries(old.parent_path()), 1) << c.text;
  }
  EXPECT_THROW(CityImporter(quiet).run(scratchDir() / "no-such.json", fresh), ImportError);
  // Only a places database opens.
  EXPECT_THROW(PlaceStore::open(writeFile("not-db", "places.sqlite", "just text").string()), std::runtime_error);
  EXPECT_THROW(PlaceStore::open(fresh.string()), std::runtime_error);

  // Without the division files beside the list, their codes stand for their names.
  const auto bare = writeFile(
      "bare", "cities.json",
      R"([{"name": "Lyon", "lat": 45.75, "lng": "4.85", "country": "FR", "admin1": "84", "admin2": "69"}])");
  EXPECT_FALSE(CityImporter(quiet).run(bare, bare.parent_path() / "places.sqlite").regionNames);
  const auto store = PlaceStore::open((bare.parent_path() / "places.sqlite").string());
  EXPECT_EQ(*store->regionName("FR"), "France");
  EXPECT_EQ(*store->regionName("FR.84"), "FR.84");
  // A Chinese province name needs the matching English one.
  EXPECT_EQ(RegionNames::chineseProvinceName("CN.22", "Beijing"), "北京市");
  EXPECT_FALSE(RegionNames::chineseProvinceName("CN.22", "Shanghai").has_value());
}

TEST(PlaceStoreTest, AStoreKeepsAnsweringFromItsFileWhenAnImportMovesANewOneOverThePath) {
  // After a reload the old store still serves the requests in flight; those that need a
  // further connection must not open what is now at the path.
  const auto path = writeFile("moved", "lyon.json", R"([{"name": "Lyon", "lat": "45.75", "lng": "4.85", "country": "FR"}])")
                        .parent_path() / "places.sqlite";
  std::filesystem::copy_file(fixtureDatabase(), path);
  const auto store = PlaceStore::open(path.string());
  CityImporter(quiet).run(path.parent_path() / "lyon.json", path);
  std::atomic<int> beijing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int k = 0; k < 50; ++k) {
        try {
          const auto found = store->nearest(39.9087, 116.3975);
          beijing += found && found->place.name == "Beijing" ? 1 : 0;
        } catch (const std::exception&) {
        }
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
      const double longitude = entry.place.longitude + dLon;
      points.emplace_back(std::clamp(entry.place.latitude + dLat, -89.9, 89.9),
                          longitude > 180 ? longitude - 360 : longitude < -180 ? longitude + 360 : longitude);
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

TEST(PlaceStoreTest, TheAddressTakesItsCountryFromTheBoundaryHoldingThePoint) {
  // Points a few kilometres from China's borders with North Korea, Vietnam and Kazakhstan,
  // several of them nearer to a city across the border, and one in the Yellow Sea.
  const struct {
    double latitude;
    double longitude;
    std::string place;    // the nearest place, whatever its country
    std::string codes;    // the context's codes, widest first
    std::string country;  // the first entry's name when it is a country
  } cases[] = {
      {40.135, 124.386, "Dandong", "CN|210000|CN.19.2106", "中国"},
      {40.110, 124.356, "Sinŭiju", "CN|210000|CN.19.2106", "中国"},
      {40.120, 124.431, "Dandong", "KP|KP.11|KP.11.2039624", "North Korea"},
      {40.100, 124.401, "Sinŭiju", "KP|KP.11|KP.11.2039624", "North Korea"},
      {21.552, 107.966, "Dongxing", "CN|450000|", "中国"},
      {21.532, 107.971, "Móng Cái", "CN|450000|", "中国"},
      {21.507, 107.946, "Móng Cái", "VN|VN.22|VN.22.194", "Vietnam"},
      {44.203, 80.415, "Qarasu", "CN|650000|", "中国"},
      {44.223, 80.385, "Khorgos", "CN|650000|", "中国"},
      {44.228, 80.355, "Khorgos", "KZ|KZ.12510144|", "Kazakhstan"},
      {39.9087, 116.3975, "Beijing", "CN|110000|CN.22.11876380", "中国"},
      {35.0, 123.0, "Shanghai", "310000|CN.23.12324204", ""},
  };
  const TrackPointsHandler handler(fixtureStore());
  for (const auto& c : cases) {
    TrackPointsRequest request;
    request.isTrack = false;
    request.latitude = c.latitude;
    request.longitude = c.longitude;
    const auto detail = handler.answer(request)->location;
    ASSERT_TRUE(detail->place && detail->address) << c.latitude << "," << c.longitude;
    EXPECT_EQ(detail->place->name, c.place) << c.latitude << "," << c.longitude;
    EXPECT_GT(detail->place->distance->line, 0.0);
    std::string codes;
    for (const auto& entry : detail->address->context) {
      codes += (codes.empty() ? "" : "|") + entry->code;
    }
    EXPECT_EQ(codes, c.codes) << c.latitude << "," << c.longitude;
    const auto& first = *detail->address->context.front();
    EXPECT_EQ(first.type == "country" ? first.name : "", c.country) << c.latitude << "," << c.longitude;
  }
  // A province answers with its GB/T 2260 code and is found by it as by its GeoNames code.
  EXPECT_EQ(fixtureStore()->answerCode("CN.22"), "110000");
  EXPECT_EQ(fixtureStore()->storedCode("110000"), "CN.22");
  EXPECT_EQ(fixtureStore()->storedCode("FR.11"), "FR.11");
}

}  // namespace
}  // namespace tovik::server
