#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/decodable.h"
#include "tovik/model/decoding_error.h"
#include "tovik/model/location_res.h"

namespace tovik {
namespace {

using nlohmann::json;

json validAnswer() {
  return json::parse(R"({
    "id": "7D3C1E0A-5B7F-4C59-9E56-0B0D5E0C9A11",
    "asset": "device-42",
    "location": {
      "timestamp": 1700000000123,
      "address": {
        "name": "北京市朝阳区望京街道",
        "context": [
          {"type": "country", "name": "中国", "code": "CN"},
          {"type": "province", "name": "北京市", "code": "110000"},
          {"type": "district", "name": "朝阳区", "code": "110105"}
        ]
      },
      "place": {"type": "poi", "name": "望京SOHO", "distance": {"line": 12.5}},
      "position": {"point": {"longitude": 116.4806, "latitude": 39.9968}}
    }
  })");
}

struct Variant {
  const char* name;
  std::function<void(json&)> change;
  // Empty: the variant decodes. Otherwise the exact error text.
  std::string error;
};

TEST(LocationResDecode, VariantsDecodeOrFailWithTheirPath) {
  const std::vector<Variant> variants = {
      {"unchanged", [](json&) {}, ""},
      {"address missing", [](json& j) { j["location"].erase("address"); }, ""},
      {"address null", [](json& j) { j["location"]["address"] = nullptr; }, ""},
      {"place missing", [](json& j) { j["location"].erase("place"); }, ""},
      {"place null", [](json& j) { j["location"]["place"] = nullptr; }, ""},
      {"empty context", [](json& j) { j["location"]["address"]["context"] = json::array(); }, ""},
      {"integer longitude", [](json& j) { j["location"]["position"]["point"]["longitude"] = 116; }, ""},
      {"whole timestamp written as float", [](json& j) { j["location"]["timestamp"] = 1700000000000.0; }, ""},
      {"extra keys everywhere",
       [](json& j) {
         j["extra"] = 1;
         j["location"]["extra"] = json::array();
         j["location"]["address"]["context"][0]["extra"] = nullptr;
         j["location"]["position"]["point"]["altitude"] = 3;
       },
       ""},
      {"top level array", [](json& j) { j = json::array({j}); }, "expected an object, found array"},
      {"id null", [](json& j) { j["id"] = nullptr; }, "id: expected a string, found null"},
      {"asset number", [](json& j) { j["asset"] = 42; }, "asset: expected a string, found number"},
      {"location missing", [](json& j) { j.erase("location"); }, "location: required key is missing"},
      {"location string", [](json& j) { j["location"] = "x"; }, "location: expected an object, found string"},
      {"address without context", [](json& j) { j["location"]["address"].erase("context"); },
       "location.address.context: required key is missing"},
      {"context an object", [](json& j) { j["location"]["address"]["context"] = json::object(); },
       "location.address.context: expected an array, found object"},
      {"code a number", [](json& j) { j["location"]["address"]["context"][2]["code"] = 110105; },
       "location.address.context[2].code: expected a string, found number"},
      {"context element null", [](json& j) { j["location"]["address"]["context"][1] = nullptr; },
       "location.address.context[1]: expected an object, found null"},
      {"address a string", [](json& j) { j["location"]["address"] = ""; },
       "location.address: expected an object, found string"},
      {"place without distance", [](json& j) { j["location"]["place"].erase("distance"); },
       "location.place.distance: required key is missing"},
      {"line a boolean", [](json& j) { j["location"]["place"]["distance"]["line"] = true; },
       "location.place.distance.line: expected a number, found boolean"},
      {"position null", [](json& j) { j["location"]["position"] = nullptr; },
       "location.position: expected an object, found null"},
      {"latitude a string", [](json& j) { j["location"]["position"]["point"]["latitude"] = "39.9"; },
       "location.position.point.latitude: expected a number, found string"},
      {"timestamp a string", [](json& j) { j["location"]["timestamp"] = "1700000000123"; },
       "location.timestamp: expected a whole number, found string"},
      {"timestamp fractional", [](json& j) { j["location"]["timestamp"] = 1.5; },
       "location.timestamp: expected a whole number, found 1.5"},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant.name);
    json answer = validAnswer();
    variant.change(answer);
    if (variant.error.empty()) {
      EXPECT_NE(LocationRes::decode(answer), nullptr);
    } else {
      try {
        (void)LocationRes::decode(answer);
        ADD_FAILURE() << "decoded, expected: " << variant.error;
      } catch (const DecodingError& error) {
        EXPECT_EQ(error.what(), variant.error);
      }
    }
  }
}

TEST(LocationResDecode, KeepsEveryValueAndTheContextOrder) {
  const auto res = LocationRes::decode(validAnswer());
  EXPECT_EQ(res->id, "7D3C1E0A-5B7F-4C59-9E56-0B0D5E0C9A11");
  EXPECT_EQ(res->asset, "device-42");
  const auto& location = *res->location;
  EXPECT_EQ(location.timestamp, 1700000000123);
  ASSERT_NE(location.address, nullptr);
  EXPECT_EQ(location.address->name, "北京市朝阳区望京街道");
  ASSERT_EQ(location.address->context.size(), 3U);
  EXPECT_EQ(location.address->context[0]->name, "中国");
  EXPECT_EQ(location.address->context[2]->code, "110105");
  EXPECT_EQ(location.place->name, "望京SOHO");
  EXPECT_DOUBLE_EQ(location.place->distance->line, 12.5);
  EXPECT_DOUBLE_EQ(location.position->point->longitude, 116.4806);
  EXPECT_DOUBLE_EQ(location.position->point->latitude, 39.9968);
}

TEST(LocationResDecode, AbsentOptionalsAndEmptyContext) {
  json answer = validAnswer();
  answer["location"].erase("place");
  answer["location"]["address"]["context"] = json::array();
  auto res = LocationRes::decode(answer);
  EXPECT_EQ(res->location->place, nullptr);
  ASSERT_NE(res->location->address, nullptr);
  EXPECT_TRUE(res->location->address->context.empty());

  answer["location"]["address"] = nullptr;
  res = LocationRes::decode(answer);
  EXPECT_EQ(res->location->address, nullptr);
}

TEST(LocationResDecode, TimestampAcceptsEveryWholeInt64AndNothingElse) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const struct {
    const char* text;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      {"0", 0},
      {"-1", -1},
      {"1700000000000.0", 1700000000000},
      {"1.7e12", 1700000000000},
      {"-0.0", 0},
      {"9223372036854775808", std::nullopt},  // one past the largest, read as unsigned
      {"18446744073709551615", std::nullopt},
      {"9223372036854775808.0", std::nullopt},  // 2^63 as a float
      {"9.3e18", std::nullopt},
      {"1e19", std::nullopt},
      {"-1e19", std::nullopt},
      {"1.5", std::nullopt},
      {"-0.5", std::nullopt},
      {"\"123\"", std::nullopt},
      {"true", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    json answer = validAnswer();
    answer["location"]["timestamp"] = json::parse(c.text);
    if (c.expected) {
      EXPECT_EQ(LocationRes::decode(answer)->location->timestamp, *c.expected);
    } else {
      EXPECT_THROW((void)LocationRes::decode(answer), DecodingError);
    }
  }
}

TEST(LocationResDefaults, NoArgumentTreeHasEveryNestedObject) {
  const auto res = std::make_shared<LocationRes>();
  EXPECT_TRUE(res->id.empty());
  EXPECT_TRUE(res->asset.empty());
  ASSERT_NE(res->location, nullptr);
  EXPECT_EQ(res->location->timestamp, 0);
  ASSERT_NE(res->location->address, nullptr);
  EXPECT_TRUE(res->location->address->name.empty());
  EXPECT_TRUE(res->location->address->context.empty());
  ASSERT_NE(res->location->place, nullptr);
  EXPECT_TRUE(res->location->place->type.empty());
  ASSERT_NE(res->location->place->distance, nullptr);
  EXPECT_EQ(res->location->place->distance->line, 0.0);
  ASSERT_NE(res->location->position, nullptr);
  ASSERT_NE(res->location->position->point, nullptr);
  EXPECT_EQ(res->location->position->point->longitude, 0.0);
  EXPECT_EQ(res->location->position->point->latitude, 0.0);
  // Each default owns its own nested objects.
  EXPECT_NE(std::make_shared<LocationRes>()->location, res->location);
}

TEST(LocationResInit, PointAndPositionInitialisers) {
  const auto point = TkPoint::create(116.4, 39.9);
  EXPECT_EQ(point->longitude, 116.4);
  EXPECT_EQ(point->latitude, 39.9);
  EXPECT_EQ(TkPoint::create(-200.0, 95.0)->latitude, 95.0);  // stored unchecked
  EXPECT_EQ(Position::create(point)->point, point);
}

TEST(LocationResEncode, RoundTripsAndLeavesOutAbsentOptionals) {
  const json answer = validAnswer();
  const auto res = LocationRes::decode(answer);
  EXPECT_EQ(res->encode(), answer);

  res->location->place = nullptr;
  res->location->address = nullptr;
  const json encoded = res->encode();
  EXPECT_FALSE(encoded["location"].contains("place"));
  EXPECT_FALSE(encoded["location"].contains("address"));
  EXPECT_EQ(LocationRes::decode(encoded)->encode(), encoded);

  const json defaults = std::make_shared<LocationRes>()->encode();
  EXPECT_EQ(defaults["location"]["place"]["distance"]["line"], 0.0);
  EXPECT_EQ(defaults["location"]["address"]["context"], json::array());
  EXPECT_NE(LocationRes::decode(defaults), nullptr);
}

TEST(LocationResEncode, NullRequiredMemberEncodesAsNullAndFailsToDecode) {
  auto res = std::make_shared<LocationRes>();
  res->location->position->point = nullptr;
  const json encoded = res->encode();
  EXPECT_TRUE(encoded["location"]["position"]["point"].is_null());
  EXPECT_THROW((void)LocationRes::decode(encoded), DecodingError);
}

TEST(LocationResCodec, DecodableAndAdlConversionsMatchTheMembers) {
  const json answer = validAnswer();
  EXPECT_EQ(Decodable<std::shared_ptr<LocationRes>>::decode(answer)->encode(), answer);
  EXPECT_EQ(answer.get<std::shared_ptr<LocationRes>>()->location->timestamp, 1700000000123);
  const json written = *LocationRes::decode(answer);
  EXPECT_EQ(written, answer);
}

}  // namespace
}  // namespace tovik
