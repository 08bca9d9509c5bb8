#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "service/city_importer.h"
#include "service/place_store.h"
#include "service/region_names.h"
#include "service_test_env.h"

namespace tovik::service {
namespace {

using testing::scratchDir;

std::filesystem::path writeFile(const std::string& folder, const std::string& name, const std::string& text) {
  const auto dir = scratchDir() / folder;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / name) << text;
  return dir / name;
}

std::vector<std::string> leftovers(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(CityImporterTest, ImportsTheFixtureWithNamesAndProgress) {
  std::vector<std::string> lines;
  const auto db = scratchDir() / "imported" / "places.sqlite";
  const auto summary =
      CityImporter([&](std::string_view line) { lines.emplace_back(line); }).run(testing::fixtureFile("cities.json"), db);
  EXPECT_EQ(summary.places, 51U);
  EXPECT_TRUE(summary.regionNames);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("imported 51 places"), std::string::npos) << lines.back();

  const auto store = PlaceStore::open(db.string());
  EXPECT_EQ(store->placeCount(), 51U);
  ASSERT_NE(store->regionName("CN.22"), nullptr);
  EXPECT_EQ(*store->regionName("CN.22"), "北京市");
  EXPECT_EQ(*store->regionName("CN"), "中国");
  EXPECT_EQ(*store->regionName("FR.11"), "Île-de-France");
  EXPECT_EQ(*store->regionName("FR.11.75"), "Paris");
  EXPECT_EQ(leftovers(db.parent_path()), std::vector<std::string>{"places.sqlite"});
}

TEST(CityImporterTest, MalformedInputIsRejectedAndLeavesTheOldDatabase) {
  const auto db = scratchDir() / "malformed" / "places.sqlite";
  CityImporter([](std::string_view) {}).run(testing::fixtureFile("cities.json"), db);
  const auto before = std::filesystem::file_size(db);

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
  for (const auto& c : cases) {
    const auto input = writeFile("bad-input", "cities.json", c.text);
    try {
      CityImporter([](std::string_view) {}).run(input, db);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ImportError& error) {
      EXPECT_NE(std::string(error.what()).find(c.expected), std::string::npos) << error.what();
    }
    EXPECT_EQ(std::filesystem::file_size(db), before) << c.text;
    EXPECT_EQ(leftovers(db.parent_path()), std::vector<std::string>{"places.sqlite"}) << c.text;
  }
  EXPECT_THROW(CityImporter([](std::string_view) {}).run(scratchDir() / "no-such.json", db), ImportError);
}

TEST(CityImporterTest, WithoutAdminFilesCodesStandForNames) {
  const auto input = writeFile("bare", "cities.json",
                               R"([{"name": "Lyon", "lat": 45.75, "lng": "4.85", "country": "FR", "admin1": "84", "admin2": "69"}])");
  const auto db = scratchDir() / "bare" / "places.sqlite";
  const auto summary = CityImporter([](std::string_view) {}).run(input, db);
  EXPECT_FALSE(summary.regionNames);
  const auto store = PlaceStore::open(db.string());
  EXPECT_EQ(*store->regionName("FR"), "France");
  EXPECT_EQ(*store->regionName("FR.84"), "FR.84");
}

TEST(CityImporterTest, OnlyAPlacesDatabaseOpens) {
  const auto notDb = writeFile("not-db", "places.sqlite", "just text");
  EXPECT_THROW(PlaceStore::open(notDb.string()), std::runtime_error);
  EXPECT_THROW(PlaceStore::open((scratchDir() / "missing.sqlite").string()), std::runtime_error);
}

TEST(RegionNamesTest, CountryTableIsSortedAndChineseNamesNeedTheMatchingEnglishName) {
  for (const char* code : {"AD", "CN", "FR", "US", "XK", "ZW"}) {
    EXPECT_TRUE(RegionNames::countryEnglishName(code).has_value()) << code;
  }
  EXPECT_FALSE(RegionNames::countryName("QQ").has_value());
  EXPECT_EQ(RegionNames::chineseProvinceName("CN.22", "Beijing"), "北京市");
  EXPECT_FALSE(RegionNames::chineseProvinceName("CN.22", "Shanghai").has_value());
}

}  // namespace
}  // namespace tovik::service
