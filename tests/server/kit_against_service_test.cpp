// The kit's own facade against the real service on loopback: all five calls, decoded by
// the kit and delivered to its delegate.

#include <gtest/gtest.h>

#include <fstream>

#include "server_test_env.h"
#include "tovik/client/location_delegate.h"
#include "tovik/services/module_keys.h"
#include "tovik/client/tk_client_location.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/location_res.h"
#include "tovik/providers/location_services.h"
#include "tovik/runloop/main_queue.h"
#include "tovik/providers/scripted_location_provider.h"

namespace tovik::server {
namespace {

using testing::RunningService;
using Located = std::shared_ptr<LocationRes>;
using Places = std::vector<std::shared_ptr<GeocodeRes>>;

struct Recorder : LocationDelegate {
  std::vector<Located> located, reversed;
  std::vector<Places> geocoded, searched;
  std::vector<std::string> errors;

  void onReceivedLocationWithTkLocation(const Located& location) override { located.push_back(location); }
  void onLocationErrorWithMsg(const std::string& msg) override { errors.push_back(msg); }
  void onReceivedReverseCodeWithTkLocation(const Located& location) override { reversed.push_back(location); }
  void onReceivedGeocodeWithResult(const Places& result) override { geocoded.push_back(result); }
  void onReceivedPoiSearchWithResult(const Places& result) override { searched.push_back(result); }
  std::size_t outcomes() const {
    return located.size() + reversed.size() + geocoded.size() + searched.size() + errors.size();
  }
};

class KitAgainstServiceTest : public ::testing::Test {
 protected:
  // One service for the whole suite, accepting only the keys the tests use.
  static void SetUpTestSuite() {
    const auto keysFile = testing::scratchDir() / "kit-keys.txt";
    std::ofstream(keysFile) << "demo\ndemo-poi\n";
    service = std::make_unique<RunningService>(AccessKeys::fromFile(keysFile.string()));
  }
  static void TearDownTestSuite() { service.reset(); }

  void SetUp() override {
    LocationServices::setProvider(std::make_shared<ScriptedLocationProvider>());
    client = TkClientLocation::create(recorder);
    client->setAgreePrivacy(true);
    client->initKey("demo");
    client->serviceURL = service->baseURL();
  }
  void TearDown() override {
    client.reset();
    setModuleAccessKey("");
    setModulePoiKey("");
    LocationServices::setProvider(nullptr);
  }

  /// Runs the main queue until one more outcome has reached the delegate.
  void awaitOutcome(bool errorExpected = false) {
    const auto before = recorder->outcomes();
    ASSERT_TRUE(MainQueue::shared().runUntil([&] { return recorder->outcomes() > before; }, std::chrono::seconds(20)));
    ASSERT_EQ(recorder->errors.empty(), !errorExpected) << (errorExpected ? "" : recorder->errors.front());
  }

  static inline std::unique_ptr<RunningService> service;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<TkClientLocation> client;
};

TEST_F(KitAgainstServiceTest, ReverseGeocodingOfTiananmenResolvesToBeijing) {
  client->getReverseCode(39.9087, 116.3975);
  awaitOutcome();
  const auto& detail = recorder->reversed.at(0)->location;
  ASSERT_NE(detail->place, nullptr);
  EXPECT_EQ(detail->place->name, "Beijing");
  EXPECT_LT(detail->place->distance->line, 1500.0);
  EXPECT_TRUE(detail->position->point->latitude == 39.9087 && detail->position->point->longitude == 116.3975)
      << "a GCJ-02 point comes back as it was sent";
  ASSERT_NE(detail->address, nullptr);
  ASSERT_EQ(detail->address->context.size(), 3U);
  EXPECT_EQ(detail->address->context[0]->name + detail->address->context[1]->name, "中国北京市");
}

TEST_F(KitAgainstServiceTest, FusedLocationAnswersInGcj02WithAddress) {
  Location fix;
  fix.coordinate = {31.2304, 121.4737};  // WGS-84, central Shanghai
  fix.horizontalAccuracy = 8;
  fix.timestamp = std::chrono::system_clock::now();
  client->getTrackLocation(fix);
  awaitOutcome();
  const auto& result = recorder->located.at(0)->location;
  const auto gcj = OrbCoorTransform::transformFromWGSToGCJ(fix.coordinate);
  EXPECT_NEAR(result->position->point->latitude, gcj.latitude, 1e-12);
  EXPECT_NEAR(result->position->point->longitude, gcj.longitude, 1e-12);
  EXPECT_EQ(result->place->name, "Shanghai");
  ASSERT_NE(result->address, nullptr) << "the kit asks for the address";
  EXPECT_EQ(result->address->context[1]->name, "上海市");
}

TEST_F(KitAgainstServiceTest, ForwardGeocodingWithinACity) {
  client->getGeocCode("Haidian", "Beijing");
  awaitOutcome();
  ASSERT_FALSE(recorder->geocoded.at(0).empty());
  EXPECT_EQ(recorder->geocoded[0][0]->name, "Haidian");
  EXPECT_EQ(recorder->geocoded[0][0]->code, "CN.22.11876380");
  EXPECT_EQ(recorder->geocoded[0][0]->relevance, 1.0);
  client->getGeocCode("Paris", "Shanghai");
  awaitOutcome();
  EXPECT_TRUE(recorder->geocoded[1].empty()) << "no Paris in Shanghai";
}

TEST_F(KitAgainstServiceTest, PlaceSearchRanksAndPages) {
  client->poiKeySearch("Paris", "", "", 1, 2);
  awaitOutcome();
  ASSERT_EQ(recorder->searched.at(0).size(), 2U);
  EXPECT_EQ(recorder->searched[0][0]->code, "FR.11.75") << "the capital outranks its namesakes";
  client->poiKeySearch("Paris", "", "", 2, 2);
  awaitOutcome();
  ASSERT_EQ(recorder->searched[1].size(), 2U);
  EXPECT_TRUE(recorder->searched[1][0]->id != recorder->searched[0][0]->id &&
              recorder->searched[1][0]->id != recorder->searched[0][1]->id);
  client->poiKeySearch("Paris", "US", "", 1, 10);
  awaitOutcome();
  EXPECT_EQ(recorder->searched[2].size(), 2U);
}

TEST_F(KitAgainstServiceTest, NearbySearchAroundACityCentreIsOrderedByDistance) {
  client->setPoiKey("demo-poi");
  client->poiNearbySearch("", "2.3522,48.8566", 20000, "", "distance", 1, 50);
  awaitOutcome();
  const auto& list = recorder->searched.at(0);
  ASSERT_EQ(list.size(), 8U) << "Paris and seven places of Île-de-France within 20 km";
  EXPECT_EQ(list[0]->name, "Paris");
  for (std::size_t k = 1; k < list.size(); ++k) {
    EXPECT_LE(list[k - 1]->distance, list[k]->distance);
    EXPECT_LE(list[k]->distance, 20000.0);
  }
  client->poiNearbySearch("saint", "2.3522,48.8566", 20000, "populated_place", "relevance", 1, 50);
  awaitOutcome();
  ASSERT_EQ(recorder->searched[1].size(), 1U);
  EXPECT_EQ(recorder->searched[1][0]->name, "Saint-Denis");

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
  client->initKey("not-a-known-key");
  client->getReverseCode(39.9, 116.4);
  awaitOutcome(true);
  EXPECT_EQ(recorder->errors, std::vector<std::string>{"请求失败，状态码: 401"});
}

}  // namespace
}  // namespace tovik::server
