// The two request bodies: what a fix and a device turn into, and the exact JSON keys.
#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/platform/clock.h"
#include "tovik/platform/device.h"
#include "tovik/platform/location.h"
#include "tovik/services/reverse_geo_request.h"
#include "tovik/services/track_request.h"

namespace tovik {
namespace {

using nlohmann::json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool isUpperUuid(const std::string& text) {
  static const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return std::regex_match(text, form);
}

Device testDevice(std::optional<std::string> vendorId = "11111111-2222-3333-4444-555555555555") {
  return {.manufacturer = "Framework",
          .model = "Laptop 13",
          .systemName = "Debian GNU/Linux",
          .systemVersion = "12",
          .identifierForVendor = std::move(vendorId)};
}

Location fix(double horizontal, double vertical, double speed) {
  Location location;
  location.coordinate = {.latitude = 39.9042, .longitude = 116.4074};
  location.horizontalAccuracy = horizontal;
  location.verticalAccuracy = vertical;
  location.speed = speed;
  location.altitude = 43.5;
  return location;
}

class RequestBodyTest : public testing::Test {
 protected:
  void TearDown() override { Clock::pin(std::nullopt); }
};

struct GnssRow {
  const char* what;
  Location fix;
  double accuracy;
  std::optional<double> verticalAccuracy;
  std::optional<double> velocity;
};

TEST_F(RequestBodyTest, FixValuesFollowThePlatformConventionsForUnknowns) {
  const GnssRow rows[] = {
      {"all known", fix(5, 3, 2.5), 5, 3, 2.5},
      {"invalid horizontal fix", fix(-1, 3, 2.5), 0, 3, 2.5},
      {"horizontal NaN", fix(kNaN, 3, 2.5), 0, 3, 2.5},
      {"vertical zero", fix(5, 0, 2.5), 5, std::nullopt, 2.5},
      {"vertical invalid", fix(5, -1, 2.5), 5, std::nullopt, 2.5},
      {"vertical NaN", fix(5, kNaN, 2.5), 5, std::nullopt, 2.5},
      {"standing still", fix(5, 3, 0), 5, 3, 0.0},
      {"speed unknown", fix(5, 3, -1), 5, 3, std::nullopt},
      {"speed NaN", fix(5, 3, kNaN), 5, 3, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto gnss = TrackRequest::assemble(row.fix, testDevice()).location.gnss;
    EXPECT_EQ(gnss.accuracy, row.accuracy);
    EXPECT_EQ(gnss.verticalAccuracy, row.verticalAccuracy);
    EXPECT_EQ(gnss.velocity, row.velocity);
    EXPECT_EQ(gnss.altitude, 43.5);  // always sent, whatever the vertical accuracy says
    EXPECT_EQ(gnss.point, (GnssPoint{.longitude = 116.4074, .latitude = 39.9042}));
  }
}

TEST_F(RequestBodyTest, EveryBodyIsStampedWithAFreshIdentity) {
  Clock::pin(12.0625);  // 12062.5 ms, exact in binary: halves round away from zero
  const auto first = TrackRequest::assemble(fix(5, 3, 1), testDevice());
  const auto second = TrackRequest::assemble(fix(5, 3, 1), testDevice());
  const auto reverse = ReverseGeoRequest::assemble(39.9, 116.4, testDevice());
  EXPECT_EQ(first.timestamp, 12063);
  EXPECT_EQ(second.timestamp, 12063);
  EXPECT_EQ(reverse.timestamp, 12063);
  EXPECT_NE(first.id, second.id);
  EXPECT_TRUE(isUpperUuid(first.id) && isUpperUuid(*reverse.id));
  EXPECT_EQ(first.asset, (AssetInfo{.id = "11111111-2222-3333-4444-555555555555",
                                    .manufacturer = "Framework",
                                    .model = "Laptop 13",
                                    .os = OSInfo{.type = "Debian GNU/Linux", .version = "12"}}));
  EXPECT_EQ(reverse.asset, "11111111-2222-3333-4444-555555555555");

  // Without a vendor identifier every body names the device anew.
  const auto a = TrackRequest::assemble(fix(5, 3, 1), testDevice(std::nullopt));
  const auto b = ReverseGeoRequest::assemble(1, 2, testDevice(std::nullopt));
  EXPECT_TRUE(isUpperUuid(a.asset.id) && isUpperUuid(b.asset));
  EXPECT_NE(a.asset.id, b.asset);
}

TEST_F(RequestBodyTest, BodiesUseTheExactKeysAndLeaveOutWhatIsAbsent) {
  TrackRequest track = TrackRequest::assemble(fix(-1, 0, 0), testDevice());
  track.timestamp = 7;
  track.id = "ID";
  EXPECT_EQ(track.encode(), json::parse(R"({"timestamp": 7, "id": "ID",
    "asset": {"id": "11111111-2222-3333-4444-555555555555", "manufacturer": "Framework", "model": "Laptop 13",
              "os": {"type": "Debian GNU/Linux", "version": "12"}},
    "location": {"gnss": {"point": {"longitude": 116.4074, "latitude": 39.9042},
                          "accuracy": 0, "altitude": 43.5, "velocity": 0}}})"));
  EXPECT_TRUE(track.encode()["timestamp"].is_number_integer());

  ReverseGeoRequest reverse = ReverseGeoRequest::assemble(123, -500, testDevice());  // unchecked
  reverse.timestamp = 7;
  reverse.id = "ID";
  EXPECT_EQ(reverse.encode(), json::parse(R"({"asset": "11111111-2222-3333-4444-555555555555",
    "location": {"position": {"point": {"longitude": -500, "latitude": 123}, "spatialReference": "gcj02"}},
    "timestamp": 7, "id": "ID"})"));

  EXPECT_EQ(TrackRequest::decode(track.encode()), track);
  EXPECT_EQ(ReverseGeoRequest::decode(reverse.encode()), reverse);

  // Documents without the optional members read back with them absent, and write back
  // without them: never as null.
  const auto bareTrack = json::parse(R"({"timestamp": 1, "id": "ID", "asset": {"id": "DEV"},
      "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 3}}})");
  const auto bareReverse = json::parse(R"({"asset": "A", "location": {"position": {"point": {"longitude": 1, "latitude": 2}}}})");
  const auto decodedTrack = TrackRequest::decode(bareTrack);
  const auto decodedReverse = ReverseGeoRequest::decode(bareReverse);
  EXPECT_FALSE(decodedTrack.asset.manufacturer || decodedTrack.asset.model || decodedTrack.asset.os);
  EXPECT_FALSE(decodedTrack.location.gnss.altitude || decodedTrack.location.gnss.velocity);
  EXPECT_FALSE(decodedReverse.timestamp || decodedReverse.id || decodedReverse.location.position.spatialReference);
  EXPECT_EQ(decodedTrack.encode(), bareTrack);
  EXPECT_EQ(decodedReverse.encode(), bareReverse);
}

TEST_F(RequestBodyTest, FloatsReadBackAsTheSameDouble) {
  for (const double value : {0.1 + 0.2, 116.39712345678901, -1e-300, 5e-324, 1.7976931348623157e308}) {
    const GnssPoint point{.longitude = value, .latitude = -value};
    EXPECT_EQ(GnssPoint::decode(json::parse(point.encode().dump())), point) << value;
  }
}

TEST_F(RequestBodyTest, DecodingRejectsMissingOrMistypedRequiredKeys) {
  const auto valid = json::parse(R"({"timestamp": 1, "id": "ID", "asset": {"id": "D", "os": {"type": "T", "version": "V"}},
      "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})");
  ASSERT_NO_THROW(TrackRequest::decode(valid));
  const std::pair<const char*, json> faults[] = {  // path, replacement (null: removed)
      {"/timestamp", nullptr},      {"/timestamp", 1.5},          {"/id", 7},
      {"/asset/id", nullptr},       {"/asset/model", 5},          {"/asset/os/version", nullptr},
      {"/location/gnss/accuracy", nullptr}, {"/location/gnss/point/latitude", nullptr},
      {"/location/gnss/point/longitude", "1"}, {"/location", json::array()},
  };
  for (const auto& [path, replacement] : faults) {
    json document = valid;
    const json::json_pointer pointer(path);
    if (replacement.is_null()) {
      document[pointer.parent_pointer()].erase(pointer.back());
    } else {
      document[pointer] = replacement;
    }
    try {
      TrackRequest::decode(document);
      ADD_FAILURE() << path << " accepted";
    } catch (const DecodingError& error) {
      std::string dotted = std::string(path).substr(1);
      std::replace(dotted.begin(), dotted.end(), '/', '.');
      EXPECT_EQ(error.path(), dotted);
    }
  }
  const auto objectAsset =
      json::parse(R"({"asset": {"id": "A"}, "location": {"position": {"point": {"longitude": 1, "latitude": 2}}}})");
  EXPECT_THROW(ReverseGeoRequest::decode(objectAsset), DecodingError);
}

}  // namespace
}  // namespace tovik
