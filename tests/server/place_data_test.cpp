// The places database: its import from the GeoNames list, the queries the service asks and
// the text matching behind them.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/city_importer.h"
#include "server/place_store.h"
#include "server/region_names.h"
#include "server/text_match.h"
#include "server_test_env.h"

namespace tovik::server {
namespace {

using namespace testing;

const CityImporter::Progress quiet = [](std::string_view) {};

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
  const auto before = std::filesystem::file_size(old);

  const auto goodCities =
      writeFile("bad-input/good.json", R"([{"name": "A", "lat": "1", "lng": "2", "country": "FR"}])");
  for (const auto& row : readTable("bad_imports.txt")) {
    const std::string &which = row.at(0), &expected = row.at(1), &text = row.at(2);
    SCOPED_TRACE(which + ": " + text);
    std::map<std::string, std::filesystem::path> files{{"cities", goodCities}};
    files[which] = writeFile("bad-input/" + which + ".json", text);
    const CityImporter::Sources sources{files["cities"], files["countries"], files["provinces"]};
    for (const auto& db : {fresh, old}) {
      try {
        CityImporter(quiet).run(sources, db);
        ADD_FAILURE() << "accepted";
      } catch (const ImportError& error) {
        EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
      }
    }
    EXPECT_EQ(entries(fresh.parent_path()), 0);
    EXPECT_EQ(std::filesystem::file_size(old), before);
    EXPECT_EQ(entries(old.parent_path()), 1);
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
  for (const auto& row : readTable("text_match.txt")) {
    SCOPED_TRACE(row.at(0) + " " + row.at(1));
    if (row[0] == "fold") {
      EXPECT_EQ(TextMatch::fold(row[1]), row.at(2));
    } else if (row[0] == "query") {
      EXPECT_EQ(TextMatch::ftsQuery(split(row[1]), row.at(2), row.at(3) == "all"), row.at(4));
    } else if (row[0] == "relevance") {
      EXPECT_DOUBLE_EQ(TextMatch::relevance(split(row[1]), row.at(2), split(row.at(3))), std::stod(row.at(4)));
    } else if (row[0] == "matches") {
      EXPECT_EQ(TextMatch::matchesAll(split(row[1]), row.at(2)), row.at(3) == "yes");
    } else {
      ADD_FAILURE() << "no such check";
    }
  }
  EXPECT_EQ(TextMatch::words("New  York-City"), split("new york city"));
  const std::string many = TextMatch::ftsQuery(std::vector<std::string>(TextMatch::kMaxWords + 3, "abc"), "", false);
  EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(many, '*')), TextMatch::kMaxWords) << many;
  // Exact over prefix over partial; region words alone do not reach a whole match.
  EXPECT_GT(TextMatch::relevance({"par"}, "Paris"), TextMatch::relevance({"york"}, "New York"));
  EXPECT_GT(TextMatch::relevance({"york"}, "New York"), TextMatch::relevance({"lyon"}, "Paris"));
  EXPECT_LT(TextMatch::relevance({"haidian", "beijing"}, "Haidian"), 0.9);
}

}  // namespace
}  // namespace tovik::server
