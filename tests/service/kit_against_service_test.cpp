// The kit's own facade against the real service on loopback: all five calls, decoded by
// the kit and delivered to its delegate.

#include <gtest/gtest.h>

#include <fstream>

#include "service_test_env.h"
#include "tovik/client/location_delegate.h"
#include "tovik/client/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/platform/location_services.h"
#include "tovik/platform/main_queue.h"
#include "tovik/platform/scripted_location_provider.h"

namespace tovik::service {
namespace {

using testing::RunningService;

struct Recorder : LocationDelegate {
  std::vector<std::shared_ptr<LocationRes>> located;
  std::vector<std::shared_ptr<LocationRes>> reversed;
  std::vector<std::vector<std::shared_ptr<GeocodeRes>>> geocoded;
  std::vector<std::vector<std::shared_ptr<GeocodeRes>>> searched;
  std::vector<std::string> errors;

  void onReceivedLocationWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    located.push_back(location);
  }
  void onLocationErrorWithMsg(const std::string& msg) override { errors.push_back(msg); }
  void onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>& location) override {
    reversed.push_back(location);
  }
  void onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    geocoded.push_back(result);
  }
  void onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>& result) override {
    searched.push_back(result);
  }
  std::size_t outcomes() const {
    return located.size() + reversed.size() + geocoded.size() + searched.size() + errors.size();
  }
};

std::vector<std::string> namesOf(const std::vector<std::shared_ptr<GeocodeRes>>& list) {
  std::vector<std::string> names;
  for (const auto& item : list) {
    names.push_back(item->name);
  }
  return names;
}

class KitAgainstServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
    recorder = std::make_shared<Recorder>();
    client = TkClientLocation::create(recorder);
    client->setAgreePrivacy(true);
    client->initKey("demo");
  }
  void TearDown() override {
    client.reset();
    setModuleAccessKey("");
    setModulePoiKey("");
    LocationServices::setProvider(nullptr);
  }

  /// Runs the main queue until one more outcome has reached the delegate.
  void awaitOutcome() {
    const auto before = recorder->outcomes();
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return recorder->outcomes() > before; }, std::chrono::seconds(20)));
    ASSERT_TRUE(recorder->errors.empty()) << recorder->errors.front();
  }

  std::shared_ptr<Recorder> recorder;
  std::shared_ptr<TkClientLocation> client;
};

TEST_F(KitAgainstServiceTest, ReverseGeocodingOfTiananmenResolvesToBeijing) {
  RunningService service;
  client->serviceURL = service.baseURL();
  client->getReverseCode(39.9087, 116.3975);
  awaitOutcome();
  ASSERT_EQ(recorder->reversed.size(), 1U);
  const auto& detail = recorder->reversed[0]->location;
  ASSERT_NE(detail->place, nullptr);
  EXPECT_EQ(detail->place->name, "Beijing");
  EXPECT_LT(detail->place->distance->line, 1500.0);
  EXPECT_EQ(detail->position->point->latitude, 39.9087) << "a GCJ-02 point comes back as it was sent";
  EXPECT_EQ(detail->position->point->longitude, 116.3975);
  ASSERT_NE(detail->address, nullptr);
  ASSERT_EQ(detail->address->context.size(), 3U);
  EXPECT_EQ(detail->address->context[0]->name, "中国");
  EXPECT_EQ(detail->address->context[1]->name, "北京市");
  EXPECT_EQ(detail->address->context[1]->code, "CN.22");
  EXPECT_EQ(detail->address->context[2]->type, "city");
  EXPECT_FALSE(recorder->reversed[0]->asset.empty());
}

TEST_F(KitAgainstServiceTest, FusedLocationAnswersInGcj02WithAddress) {
  RunningService service;
  client->serviceURL = service.baseURL();
  Location fix;
  fix.coordinate = {31.2304, 121.4737};  // WGS-84, central Shanghai
  fix.horizontalAccuracy = 8;
  fix.timestamp = std::chrono::system_clock::now();
  const auto before = std::chrono::system_clock::now();
  client->getTrackLocation(fix);
  awaitOutcome();
  ASSERT_EQ(recorder->located.size(), 1U);
  const auto& result = recorder->located[0];
  const auto gcj = OrbCoorTransform::transformFromWGSToGCJ(fix.coordinate);
  EXPECT_NEAR(result->location->position->point->latitude, gcj.latitude, 1e-12);
  EXPECT_NEAR(result->location->position->point->longitude, gcj.longitude, 1e-12);
  EXPECT_NE(result->location->position->point->latitude, fix.coordinate.latitude);
  EXPECT_EQ(result->location->place->name, "Shanghai");
  ASSERT_NE(result->location->address, nullptr) << "the kit asks for the address";
  EXPECT_EQ(result->location->address->context[1]->name, "上海市");
  const auto ms = [](auto t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  };
  EXPECT_GE(result->location->timestamp, ms(before));
  EXPECT_LE(result->location->timestamp, ms(std::chrono::system_clock::now()));
}

TEST_F(KitAgainstServiceTest, ForwardGeocodingWithinACity) {
  RunningService service;
  client->serviceURL = service.baseURL();
  client->getGeocCode("Haidian", "Beijing");
  awaitOutcome();
  ASSERT_EQ(recorder->geocoded.size(), 1U);
  ASSERT_FALSE(recorder->geocoded[0].empty());
  const auto& first = recorder->geocoded[0][0];
  EXPECT_EQ(first->name, "Haidian");
  EXPECT_EQ(first->code, "CN.22.11876380");
  EXPECT_EQ(first->relevance, 1.0);

  client->getGeocCode("Paris", "Shanghai");
  awaitOutcome();
  EXPECT_TRUE(recorder->geocoded[1].empty()) << "no Paris in Shanghai";
}

TEST_F(KitAgainstServiceTest, PlaceSearchRanksAndPages) {
  RunningService service;
  client->serviceURL = service.baseURL();
  client->poiKeySearch("Paris", "", "", 1, 2);
  awaitOutcome();
  ASSERT_EQ(recorder->searched.size(), 1U);
  ASSERT_EQ(recorder->searched[0].size(), 2U);
  EXPECT_EQ(recorder->searched[0][0]->code, "FR.11.75") << "the capital outranks its namesakes";

  client->poiKeySearch("Paris", "", "", 2, 2);
  awaitOutcome();
  ASSERT_EQ(recorder->searched[1].size(), 2U);
  EXPECT_NE(recorder->searched[1][0]->id, recorder->searched[0][0]->id);
  EXPECT_NE(recorder->searched[1][0]->id, recorder->searched[0][1]->id);

  client->poiKeySearch("Paris", "US", "", 1, 10);
  awaitOutcome();
  EXPECT_EQ(recorder->searched[2].size(), 2U);
}

TEST_F(KitAgainstServiceTest, NearbySearchAroundACityCentreIsOrderedByDistance) {
  RunningService service;
  client->serviceURL = service.baseURL();
  client->setPoiKey("demo-poi");
  client->poiNearbySearch("", "2.3522,48.8566", 20000, "", "distance", 1, 50);
  awaitOutcome();
  ASSERT_EQ(recorder->searched.size(), 1U);
  const auto& list = recorder->searched[0];
  ASSERT_GE(list.size(), 5U);
  EXPECT_EQ(list[0]->name, "Paris");
  for (std::size_t k = 1; k < list.size(); ++k) {
    EXPECT_LE(list[k - 1]->distance, list[k]->distance);
    EXPECT_LE(list[k]->distance, 20000.0);
  }

  client->poiNearbySearch("saint", "2.3522,48.8566", 20000, "populated_place", "relevance", 1, 50);
  awaitOutcome();
  EXPECT_EQ(namesOf(recorder->searched[1]), std::vector<std::string>{"Saint-Denis"});

  // Around Tiananmen, given in GCJ-02 as a Chinese map shows it.
  const auto gcj = OrbCoorTransform::transformFromWGSToGCJ({39.9075, 116.39723});
  client->poiNearbySearch("", std::to_string(gcj.longitude) + "," + std::to_string(gcj.latitude), 3000, "", "", 1, 10);
  awaitOutcome();
  ASSERT_FALSE(recorder->searched[2].empty());
  EXPECT_EQ(recorder->searched[2][0]->name, "Beijing");
  EXPECT_LT(recorder->searched[2][0]->distance, 5.0);
  EXPECT_EQ(recorder->searched[2][0]->geoPoint.substr(0, 8), std::to_string(gcj.longitude).substr(0, 8));
}

TEST_F(KitAgainstServiceTest, AnUnknownKeyReachesTheApplicationAsStatus401) {
  const auto keysFile = testing::scratchDir() / "kit-keys.txt";
  std::ofstream(keysFile) << "only-this-one\n";
  RunningService service(AccessKeys::fromFile(keysFile.string()));
  client->serviceURL = service.baseURL();
  client->getReverseCode(39.9, 116.4);
  const auto before = recorder->outcomes();
  ASSERT_TRUE(MainQueue::shared().runUntil([&] { return recorder->outcomes() > before; }, std::chrono::seconds(20)));
  ASSERT_EQ(recorder->errors.size(), 1U);
  EXPECT_EQ(recorder->errors[0], "请求失败，状态码: 401");
}

TEST(FullDataTest, KnownCitiesLieInTheirProvinces) {
  // The build's own import when there is one; otherwise the GeoNames list, when it is
  // installed, imported here (a few seconds).
  auto db = std::filesystem::path(TOVIK_BINARY_DIR) / "service" / "places.sqlite";
  if (!std::filesystem::exists(db)) {
    if (!std::filesystem::exists(TOVIK_SERVICE_FULL_DATA)) {
      GTEST_SKIP() << "the GeoNames list is not installed (scripts/bootstrap)";
    }
    db = testing::scratchDir() / "full.sqlite";
    CityImporter([](std::string_view) {}).run(TOVIK_SERVICE_FULL_DATA, db);
  }
  const auto store = PlaceStore::open(db.string());
  const struct {
    double latitude;
    double longitude;
    const char* region;
  } cases[] = {{39.9087, 116.3975, "北京市"}, {31.2304, 121.4737, "上海市"}, {39.1256, 117.1909, "天津市"},
               {23.1291, 113.2644, "广东省"}, {48.8566, 2.3522, "Île-de-France"}};
  for (const auto& c : cases) {
    const auto nearest = store->nearest(c.latitude, c.longitude);
    ASSERT_TRUE(nearest.has_value());
    ASSERT_NE(store->regionName(nearest->place.admin1), nullptr);
    EXPECT_EQ(*store->regionName(nearest->place.admin1), c.region) << nearest->place.name;
    EXPECT_LT(nearest->distance, 10000.0) << nearest->place.name;
  }
}

}  // namespace
}  // namespace tovik::service
