#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "service/text_match.h"
#include "service_test_env.h"

namespace tovik::service {
namespace {

using testing::fixtureStore;

TEST(PlaceStoreTest, NearestPlaceOfKnownPoints) {
  const struct {
    double latitude;
    double longitude;
    const char* name;
    double maxMetres;
  } cases[] = {
      {39.9087, 116.3975, "Beijing", 1000},            // Tiananmen
      {39.9255, 116.4040, "Jingshan", 100},
      {31.2304, 121.4737, "Shanghai", 2000},
      {48.8584, 2.2945, "Neuilly-sur-Seine", 4000},  // the Eiffel Tower is nearer Neuilly than Paris's centre point
      {-18.1, -179.9, "Suva", 200000},               // across the antimeridian
      {-13.9, -172.5, "Apia", 100000},
      {89.9, 0.0, "Longyearbyen", 1500000},
      {-60.0, -100.0, "Buenos Aires", 8000000},        // far from everything
  };
  for (const auto& c : cases) {
    const auto found = fixtureStore()->nearest(c.latitude, c.longitude);
    ASSERT_TRUE(found.has_value()) << c.name;
    EXPECT_EQ(found->place.name, c.name) << c.latitude << "," << c.longitude;
    EXPECT_LT(found->distance, c.maxMetres) << c.name;
  }
}

TEST(PlaceStoreTest, NearestAgreesWithAFullScan) {
  // Every place of the fixture, looked up from a point just beside it, finds itself.
  const auto all = fixtureStore()->within(0, 0, 2e7);
  ASSERT_EQ(all.size(), fixtureStore()->placeCount());
  for (const auto& entry : all) {
    const auto& place = entry.place;
    const auto found = fixtureStore()->nearest(place.latitude + 0.0001, place.longitude);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->place.id, place.id) << place.name;
  }
}

TEST(PlaceStoreTest, NearestMatchesBruteForceAroundEveryPlace) {
  const auto all = fixtureStore()->within(0, 0, 2e7);
  const double offsets[][2] = {{0.3, 0.0}, {-0.2, 0.25}, {0.05, -0.4}, {-0.45, -0.1}};
  for (const auto& entry : all) {
    for (const auto& offset : offsets) {
      const double latitude = std::clamp(entry.place.latitude + offset[0], -89.9, 89.9);
      double longitude = entry.place.longitude + offset[1];
      longitude = longitude > 180 ? longitude - 360 : longitude < -180 ? longitude + 360 : longitude;
      const auto everything = fixtureStore()->within(latitude, longitude, 2.1e7);
      ASSERT_FALSE(everything.empty());
      const auto found = fixtureStore()->nearest(latitude, longitude);
      ASSERT_TRUE(found.has_value());
      EXPECT_LE(found->distance, everything.front().distance * 1.001 + 1.0)
          << latitude << "," << longitude << ": " << found->place.name << " vs " << everything.front().place.name;
    }
  }
}

TEST(PlaceStoreTest, WithinIsNearestFirstAndBounded) {
  const auto found = fixtureStore()->within(48.8566, 2.3522, 12000);
  std::vector<std::string> names;
  for (const auto& entry : found) {
    names.push_back(entry.place.name);
    EXPECT_LE(entry.distance, 12000);
  }
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "Paris");
  EXPECT_TRUE(std::is_sorted(found.begin(), found.end(),
                             [](const auto& a, const auto& b) { return a.distance < b.distance; }));
  EXPECT_EQ(std::count(names.begin(), names.end(), "Versailles"), 0) << "Versailles is 17 km away";
}

TEST(PlaceStoreTest, TextSearchHonoursTheRegionCode) {
  const auto everywhere = fixtureStore()->matching(TextMatch::ftsQuery({"paris"}, "name", true), "", 100);
  EXPECT_EQ(everywhere.size(), 4U);
  const auto inFrance = fixtureStore()->matching(TextMatch::ftsQuery({"paris"}, "name", true), "FR", 100);
  ASSERT_EQ(inFrance.size(), 1U);
  EXPECT_EQ(inFrance[0].admin2, "FR.11.75");
  EXPECT_EQ(inFrance[0].importance, 2);
  const auto byRegion = fixtureStore()->matching(TextMatch::ftsQuery({"北京"}, "region", true), "", 100);
  EXPECT_EQ(byRegion.size(), 5U) << "Beijing and four districts";
  // Hostile text is only ever a quoted word.
  for (const char* hostile : {"\"", "*", "NEAR(a b)", "a OR b", "name:x", "\xf0\x9f\x98\x80", "^"}) {
    EXPECT_NO_THROW(fixtureStore()->matching(TextMatch::ftsQuery(TextMatch::words(hostile), "", true), "", 10))
        << hostile;
  }
}

TEST(PlaceStoreTest, QueriesFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int k = 0; k < 200; ++k) {
        const auto found = fixtureStore()->nearest(39.9087, 116.3975);
        if (!found || found->place.name != "Beijing") {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace tovik::service
