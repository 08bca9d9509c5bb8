// The two request bodies: what a fix and a device turn into, and the exact JSON keys.
#include <gtest/gtest.h>

#include <cmath>
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

Location fix(double horizontal, double vertical, double speed, double altitude = 43.5) {
  Location location;
  location.coordinate = {.latitude = 39.9042, .longitude = 116.4074};
  location.horizontalAccuracy = horizontal;
  location.verticalAccuracy = vertical;
  location.speed = speed;
  location.altitude = altitude;
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
      {"horizontal zero", fix(0, 3, 2.5), 0, 3, 2.5},
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

    const json body = TrackRequest::assemble(row.fix, testDevice()).encode();
    const json& encoded = body["location"]["gnss"];
    EXPECT_EQ(encoded.contains("verticalAccuracy"), row.verticalAccuracy.has_value());
    EXPECT_EQ(encoded.contains("velocity"), row.velocity.has_value());
    EXPECT_TRUE(encoded.contains("accuracy"));
    EXPECT_TRUE(encoded.contains("altitude"));
  }
}

TEST_F(RequestBodyTest, TrackRequestCarriesTheDeviceAndAFreshIdentity) {
  Clock::pin(1700000000.25);
  const auto first = TrackRequest::assemble(fix(5, 3, 1), testDevice());
  const auto second = TrackRequest::assemble(fix(5, 3, 1), testDevice());

  EXPECT_EQ(first.timestamp, 1700000000250);
  EXPECT_EQ(first.timestamp, second.timestamp);
  EXPECT_NE(first.id, second.id);
  EXPECT_TRUE(isUpperUuid(first.id)) << first.id;
  EXPECT_EQ(first.asset, (AssetInfo{.id = "11111111-2222-3333-4444-555555555555",
                                    .manufacturer = "Framework",
                                    .model = "Laptop 13",
                                    .os = OSInfo{.type = "Debian GNU/Linux", .version = "12"}}));
}

TEST_F(RequestBodyTest, TimestampRoundsHalfAwayFromZero) {
  Clock::pin(12.0625);  // 12062.5 ms, exact in binary
  EXPECT_EQ(TrackRequest::assemble(fix(5, 3, 1), testDevice()).timestamp, 12063);
  EXPECT_EQ(ReverseGeoRequest::assemble(1, 2, testDevice()).timestamp, 12063);
}

TEST_F(RequestBodyTest, WithoutVendorIdentifierEveryBodyGetsANewDeviceId) {
  const auto a = TrackRequest::assemble(fix(5, 3, 1), testDevice(std::nullopt));
  const auto b = TrackRequest::assemble(fix(5, 3, 1), testDevice(std::nullopt));
  const auto r = ReverseGeoRequest::assemble(1, 2, testDevice(std::nullopt));
  EXPECT_TRUE(isUpperUuid(a.asset.id)) << a.asset.id;
  EXPECT_TRUE(isUpperUuid(r.asset)) << r.asset;
  EXPECT_NE(a.asset.id, b.asset.id);
}

TEST_F(RequestBodyTest, TrackRequestEncodesUnderTheExactKeys) {
  const TrackRequest request{
      .timestamp = 1700000000250,
      .id = "ID",
      .asset = {.id = "DEV", .manufacturer = "M", .model = "X", .os = OSInfo{.type = "T", .version = "V"}},
      .location = {.gnss = {.point = {.longitude = 116.4, .latitude = 39.9},
                            .accuracy = 0,
                            .altitude = -12.5,
                            .verticalAccuracy = std::nullopt,
                            .velocity = 0.0}}};
  const json expected = json::parse(R"({
    "timestamp": 1700000000250, "id": "ID",
    "asset": {"id": "DEV", "manufacturer": "M", "model": "X", "os": {"type": "T", "version": "V"}},
    "location": {"gnss": {"point": {"longitude": 116.4, "latitude": 39.9},
                          "accuracy": 0, "altitude": -12.5, "velocity": 0}}})");
  EXPECT_EQ(request.encode(), expected);
  EXPECT_TRUE(request.encode()["timestamp"].is_number_integer());
  EXPECT_EQ(TrackRequest::decode(expected), request);
}

TEST_F(RequestBodyTest, AbsentOptionalsAreLeftOutNeverNull) {
  TrackRequest bare;
  bare.timestamp = 1;
  bare.id = "ID";
  bare.asset.id = "DEV";
  const std::string text = bare.encode().dump();
  EXPECT_EQ(text.find("null"), std::string::npos) << text;
  EXPECT_EQ(bare.encode()["asset"], json::parse(R"({"id": "DEV"})"));

  // A document without the optional members reads back with them absent.
  const auto decoded = TrackRequest::decode(json::parse(R"({"timestamp": 1, "id": "ID", "asset": {"id": "DEV"},
      "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 3}}})"));
  EXPECT_FALSE(decoded.asset.manufacturer || decoded.asset.model || decoded.asset.os);
  EXPECT_FALSE(decoded.location.gnss.altitude || decoded.location.gnss.verticalAccuracy ||
               decoded.location.gnss.velocity);
}

TEST_F(RequestBodyTest, FloatsReadBackAsTheSameDouble) {
  const double awkward[] = {0.1 + 0.2, 116.39712345678901, -1e-300, 5e-324, 1.7976931348623157e308};
  for (const double value : awkward) {
    const GnssPoint point{.longitude = value, .latitude = -value};
    EXPECT_EQ(GnssPoint::decode(json::parse(point.encode().dump())), point) << value;
  }
}

TEST_F(RequestBodyTest, ReverseGeoRequestPutsLongitudeFirstAndDeclaresGcj02) {
  Clock::pin(1700000000.25);
  const auto request = ReverseGeoRequest::assemble(39.9, 116.4, testDevice());
  const json expected = {
      {"asset", "11111111-2222-3333-4444-555555555555"},
      {"location", {{"position", {{"point", {{"longitude", 116.4}, {"latitude", 39.9}}}, {"spatialReference", "gcj02"}}}}},
      {"timestamp", 1700000000250},
      {"id", *request.id}};
  EXPECT_EQ(request.encode(), expected);
  EXPECT_TRUE(isUpperUuid(*request.id));
  EXPECT_NE(request.id, ReverseGeoRequest::assemble(39.9, 116.4, testDevice()).id);
  EXPECT_EQ(ReverseGeoRequest::decode(expected), request);

  // Out-of-range coordinates are the service's business.
  EXPECT_EQ(ReverseGeoRequest::assemble(123, -500, testDevice()).location.position.point,
            (GnssPoint{.longitude = -500, .latitude = 123}));

  const auto bare = ReverseGeoRequest::decode(
      json::parse(R"({"asset": "A", "location": {"position": {"point": {"longitude": 1, "latitude": 2}}}})"));
  EXPECT_FALSE(bare.timestamp || bare.id || bare.location.position.spatialReference);
  EXPECT_EQ(bare.encode().dump().find("null"), std::string::npos);
}

TEST_F(RequestBodyTest, DecodingRejectsMissingOrMistypedRequiredKeys) {
  const char* documents[] = {
      R"([])",
      R"({"id": "ID", "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": 1}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {"id": "D", "os": {"type": "T"}}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": 7, "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1.5, "id": "ID", "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {"id": "D", "model": 5}, "location": {"gnss": {"point": {"longitude": 1, "latitude": 2}, "accuracy": 0}}})",
      R"({"timestamp": 1, "id": "ID", "asset": {"id": "D"}, "location": {"gnss": {"point": {"longitude": "1", "latitude": 2}, "accuracy": 0}}})",
  };
  for (const char* document : documents) {
    EXPECT_THROW(TrackRequest::decode(json::parse(document)), DecodingError) << document;
  }
  EXPECT_THROW(ReverseGeoRequest::decode(json::parse(R"({"asset": {"id": "A"}, "location": {"position": {"point": {"longitude": 1, "latitude": 2}}}})")),
               DecodingError);
  EXPECT_THROW(ReverseGeoRequest::decode(json::parse(R"({"asset": "A", "location": {"position": {}}})")), DecodingError);

  try {
    TrackRequest::decode(json::parse(documents[3]));
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.path(), "location.gnss.point.latitude");
  }
}

}  // namespace
}  // namespace tovik
