#include <gtest/gtest.h>

#include <string>

#include "server/request_parsing.h"

namespace tovik::server {
namespace {

std::string reverseBody(const std::string& reference) {
  return R"({"asset": "DEV-2", "timestamp": 1, "id": "REQ-2", "location": {"position": {"point": )"
         R"({"longitude": 121.47, "latitude": 31.23})" +
         (reference.empty() ? "" : R"(, "spatialReference": ")" + reference + "\"") + "}}}";
}

TEST(RequestParsingTest, ReverseBodyNamesItsDatum) {
  // The track shape is read end to end by the kit's fused-location test.
  const std::pair<std::string, Datum> references[] = {
      {"wgs84", Datum::wgs84}, {"BD09", Datum::bd09}, {"gcj02", Datum::gcj02}, {"", Datum::gcj02}};
  for (const auto& [reference, datum] : references) {
    const auto reverse = RequestParsing::trackPoints(reverseBody(reference), {{"access_key", "k"}});
    ASSERT_TRUE(std::holds_alternative<TrackPointsRequest>(reverse)) << std::get<RequestError>(reverse).message;
    const auto& r = std::get<TrackPointsRequest>(reverse);
    EXPECT_FALSE(r.isTrack);
    EXPECT_EQ(r.asset, "DEV-2");
    EXPECT_EQ(r.datum, datum) << reference;
    EXPECT_FALSE(r.needAddress.has_value());
  }
}

}  // namespace
}  // namespace tovik::server
