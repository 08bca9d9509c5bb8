#include <gtest/gtest.h>

#include <string>

#include "service/request_parsing.h"

namespace tovik::service {
namespace {

const char* const kTrackBody = R"({"timestamp": 1700000000000, "id": "REQ-1",
  "asset": {"id": "DEV-1", "manufacturer": "Apple", "model": "x", "os": {"type": "Linux", "version": "12"}},
  "location": {"gnss": {"point": {"longitude": 116.3975, "latitude": 39.9087}, "accuracy": 5, "altitude": 40}}})";

const char* const kReverseBody = R"({"asset": "DEV-2", "timestamp": 1, "id": "REQ-2",
  "location": {"position": {"point": {"longitude": 121.47, "latitude": 31.23}, "spatialReference": "gcj02"}}})";

const QueryItems kKitQuery{{"access_key", "k"}, {"response_sprf", "gcj02"}, {"needAddress", "true"}};

TEST(RequestParsingTest, ReadsBothBodyShapes) {
  const auto track = RequestParsing::trackPoints(kTrackBody, kKitQuery);
  ASSERT_TRUE(std::holds_alternative<TrackPointsRequest>(track)) << std::get<RequestError>(track).message;
  const auto& t = std::get<TrackPointsRequest>(track);
  EXPECT_TRUE(t.isTrack);
  EXPECT_EQ(t.id, "REQ-1");
  EXPECT_EQ(t.asset, "DEV-1");
  EXPECT_EQ(t.latitude, 39.9087);
  EXPECT_EQ(t.longitude, 116.3975);
  EXPECT_EQ(t.datum, Datum::wgs84) << "a fix travels as the device delivered it";
  EXPECT_EQ(t.responseDatum, Datum::gcj02);
  EXPECT_EQ(t.needAddress, true);

  const auto reverse = RequestParsing::trackPoints(kReverseBody, {{"access_key", "k"}, {"response_sprf", "gcj02"}});
  ASSERT_TRUE(std::holds_alternative<TrackPointsRequest>(reverse)) << std::get<RequestError>(reverse).message;
  const auto& r = std::get<TrackPointsRequest>(reverse);
  EXPECT_FALSE(r.isTrack);
  EXPECT_EQ(r.asset, "DEV-2");
  EXPECT_EQ(r.datum, Datum::gcj02);
  EXPECT_FALSE(r.needAddress.has_value());
}

TEST(RequestParsingTest, DatumsOfTheReverseBody) {
  const struct {
    const char* reference;
    Datum datum;
  } cases[] = {{"wgs84", Datum::wgs84}, {"BD09", Datum::bd09}, {"gcj02", Datum::gcj02}};
  for (const auto& c : cases) {
    const std::string body = std::string(R"({"asset": "a", "location": {"position": {"point": {"longitude": 1, "latitude": 2}, "spatialReference": ")") +
                             c.reference + "\"}}}";
    const auto parsed = RequestParsing::trackPoints(body, {});
    ASSERT_TRUE(std::holds_alternative<TrackPointsRequest>(parsed)) << c.reference;
    EXPECT_EQ(std::get<TrackPointsRequest>(parsed).datum, c.datum) << c.reference;
  }
  const auto noReference =
      RequestParsing::trackPoints(R"({"asset": "a", "location": {"position": {"point": {"longitude": 1, "latitude": 2}}}})", {});
  ASSERT_TRUE(std::holds_alternative<TrackPointsRequest>(noReference));
  EXPECT_EQ(std::get<TrackPointsRequest>(noReference).datum, Datum::gcj02);
}

TEST(RequestParsingTest, FaultyTrackPointsNameTheField) {
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  const struct {
    std::string body;
    QueryItems query;
    std::string field;
  } cases[] = {
      {"", {}, "body"},
      {"{not json", {}, "body"},
      {"[1, 2]", {}, "body"},
      {deep, {}, "body"},
      {R"({"location": {}})", {}, "asset"},
      {R"({"asset": 5})", {}, "asset"},
      {R"({"asset": {"id": "d"}, "timestamp": 1, "id": "x", "location": {"gnss": {"accuracy": 1}}})", {},
       "location.gnss.point"},
      {R"({"asset": {"id": "d"}, "timestamp": 1, "id": "x", "location": {"gnss": {"point": {"longitude": 1, "latitude": 95}, "accuracy": 1}}})",
       {}, "location.gnss.point.latitude"},
      {R"({"asset": "d", "location": {"position": {"point": {"longitude": "116", "latitude": 39}}}})", {},
       "location.position.point.longitude"},
      {R"({"asset": "d", "location": {"position": {"point": {"longitude": 181, "latitude": 39}}}})", {},
       "location.position.point.longitude"},
      {R"({"asset": "d", "location": {"position": {"point": {"longitude": 1, "latitude": 2}, "spatialReference": "utm"}}})",
       {}, "location.position.spatialReference"},
      {kReverseBody, {{"response_sprf", "mercator"}}, "response_sprf"},
      {kReverseBody, {{"needAddress", "yes"}}, "needAddress"},
      {kReverseBody, {{"response_sprf", "gcj02"}, {"response_sprf", "wgs84"}}, "response_sprf"},
  };
  for (const auto& c : cases) {
    const auto parsed = RequestParsing::trackPoints(c.body, c.query);
    ASSERT_TRUE(std::holds_alternative<RequestError>(parsed)) << c.body;
    EXPECT_EQ(std::get<RequestError>(parsed).field, c.field) << c.body << ": " << std::get<RequestError>(parsed).message;
    EXPECT_FALSE(std::get<RequestError>(parsed).message.empty());
  }
}

TEST(RequestParsingTest, NearbySearchItems) {
  const auto parsed = RequestParsing::nearbySearch({{"name", "Saint Denis"},
                                                    {"location", " 2.35 , +48.85 "},
                                                    {"radius", "5000"},
                                                    {"orderby", "Relevance"},
                                                    {"page_index", "2"},
                                                    {"page_size", "5"}});
  ASSERT_TRUE(std::holds_alternative<NearbySearchRequest>(parsed)) << std::get<RequestError>(parsed).message;
  const auto& request = std::get<NearbySearchRequest>(parsed);
  EXPECT_EQ(request.words, (std::vector<std::string>{"saint", "denis"}));
  EXPECT_EQ(request.longitude, 2.35);
  EXPECT_EQ(request.latitude, 48.85);
  EXPECT_EQ(request.radius, 5000);
  EXPECT_TRUE(request.orderByRelevance);
  EXPECT_EQ(request.pageIndex, 2);
  EXPECT_EQ(request.pageSize, 5);

  const auto defaults = RequestParsing::nearbySearch({{"location", "116.4,39.9"}, {"name", ""}, {"category", ""}});
  ASSERT_TRUE(std::holds_alternative<NearbySearchRequest>(defaults));
  EXPECT_TRUE(std::get<NearbySearchRequest>(defaults).words.empty()) << "an empty name asks for every place";
  EXPECT_EQ(std::get<NearbySearchRequest>(defaults).radius, 1000);
  EXPECT_EQ(std::get<NearbySearchRequest>(defaults).pageIndex, 1);
}

TEST(RequestParsingTest, FaultySearchItemsNameTheField) {
  const struct {
    QueryItems query;
    std::string field;
  } nearby[] = {
      {{}, "location"},
      {{{"location", "116.4"}}, "location"},
      {{{"location", "116.4,abc"}}, "location"},
      {{{"location", "39.9,200"}}, "location"},
      {{{"location", "nan,1"}}, "location"},
      {{{"location", "116.4,39.9"}, {"radius", "0"}}, "radius"},
      {{{"location", "116.4,39.9"}, {"radius", "100001"}}, "radius"},
      {{{"location", "116.4,39.9"}, {"radius", "12abc"}}, "radius"},
      {{{"location", "116.4,39.9"}, {"orderby", "price"}}, "orderby"},
      {{{"location", "116.4,39.9"}, {"page_index", "0"}}, "page_index"},
      {{{"location", "116.4,39.9"}, {"page_size", "51"}}, "page_size"},
      {{{"location", "116.4,39.9"}, {"page_size", "99999999999999"}}, "page_size"},
      {{{"location", "116.4,39.9"}, {"name", std::string(300, 'x')}}, "name"},
  };
  for (const auto& c : nearby) {
    const auto parsed = RequestParsing::nearbySearch(c.query);
    ASSERT_TRUE(std::holds_alternative<RequestError>(parsed)) << c.field;
    EXPECT_EQ(std::get<RequestError>(parsed).field, c.field);
  }
  const auto noName = RequestParsing::placeSearch({{"name", " ,, "}});
  ASSERT_TRUE(std::holds_alternative<RequestError>(noName));
  EXPECT_EQ(std::get<RequestError>(noName).field, "name");
  const auto noAddress = RequestParsing::geocode({{"city", "Beijing"}});
  ASSERT_TRUE(std::holds_alternative<RequestError>(noAddress));
  EXPECT_EQ(std::get<RequestError>(noAddress).field, "address");
  const auto twice = RequestParsing::geocode({{"address", "a"}, {"address", "b"}});
  ASSERT_TRUE(std::holds_alternative<RequestError>(twice));
  EXPECT_EQ(std::get<RequestError>(twice).field, "address");
}

}  // namespace
}  // namespace tovik::service
