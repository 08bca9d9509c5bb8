#include "tovik/model/location_res.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/decode_outcome.h"
#include "tovik/model/json_document.h"

namespace tovik::test {
namespace {

using nlohmann::json;

json validAnswer() {
  return json::parse(R"({"id": "7D3C1E0A-5B7F-4C59-9E56-0B0D5E0C9A11", "asset": "device-42", "location": {
      "timestamp": 1700000000123,
      "address": {"name": "北京市朝阳区望京街道", "context": [{"type": "country", "name": "中国", "code": "CN"},
          {"type": "province", "name": "北京市", "code": "110000"}, {"type": "district", "name": "朝阳区", "code": "110105"}]},
      "place": {"type": "poi", "name": "望京SOHO", "distance": {"line": 12.5}},
      "position": {"point": {"longitude": 116.4806, "latitude": 39.9968}}}})");
}

TEST(LocationResDecode, VariantsDecodeOrFailWithTheirPath) {
  const struct {
    const char* name;
    std::function<void(json&)> change;
    std::string error;  // empty: decodes, and `check` holds
    std::function<void(const LocationDetail&)> check = {};
  } variants[] = {
      {"unchanged", [](json&) {}, "",
       [](const LocationDetail& l) {
         EXPECT_EQ(l.timestamp, 1700000000123);
         EXPECT_EQ(l.address->context[0]->name, "中国");
         EXPECT_EQ(l.position->point->longitude, 116.4806);
         EXPECT_EQ(l.position->point->latitude, 39.9968);
       }},
      {"address missing", [](json& j) { j["location"].erase("address"); }, "",
       [](const LocationDetail& l) { EXPECT_EQ(l.address, nullptr); }},
      {"address null", [](json& j) { j["location"]["address"] = nullptr; }, "",
       [](const LocationDetail& l) { EXPECT_EQ(l.address, nullptr); }},
      {"place missing", [](json& j) { j["location"].erase("place"); }, "",
       [](const LocationDetail& l) { EXPECT_EQ(l.place, nullptr); }},
      {"place null", [](json& j) { j["location"]["place"] = nullptr; }, "",
       [](const LocationDetail& l) { EXPECT_EQ(l.place, nullptr); }},
      {"empty context", [](json& j) { j["location"]["address"]["context"] = json::array(); }, "",
       [](const LocationDetail& l) { EXPECT_TRUE(l.address && l.address->context.empty()); }},
      {"integer longitude", [](json& j) { j["location"]["position"]["point"]["longitude"] = 116; }, "",
       [](const LocationDetail& l) { EXPECT_EQ(l.position->point->longitude, 116.0); }},
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
      {"location missing", [](json& j) { j.erase("location"); }, "location: required key is missing"},
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
    std::shared_ptr<LocationRes> res;
    EXPECT_EQ(decodeError([&] { res = LocationRes::decode(answer); }), variant.error);
    if (res && variant.check) variant.check(*res->location);
  }
}

// The timestamp is judged as the service wrote it, so the answer goes through the kit's parser.
TEST(LocationResDecode, TimestampAcceptsEveryWholeInt64AndNothingElse) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const struct {
    const char* text;
    std::optional<std::int64_t> expected;  // none: fails
  } cases[] = {
      {"9223372036854775807", kMax}, {"-9223372036854775808", kMin}, {"0", 0}, {"-1", -1},
      {"1700000000000.0", 1700000000000}, {"1.7e12", 1700000000000}, {"-0.0", 0}, {"0.0017E+15", 1700000000000},
      {"170000000000000e-2", 1700000000000}, {"9.223372036854775807e18", kMax}, {"-9223372036854775808.000", kMin},
      {"9223372036854775808", std::nullopt},  // one past the largest, read as unsigned
      {"18446744073709551615", std::nullopt}, {"9223372036854775808.0", std::nullopt},  // 2^63 as a float
      {"9.3e18", std::nullopt}, {"1e19", std::nullopt}, {"-1e19", std::nullopt}, {"-0.5", std::nullopt},
      {"true", std::nullopt}, {"\"1700000000123\"", std::nullopt},
      // Whole only after rounding to a double.
      {"1700000000000.0000001", std::nullopt}, {"9007199254740993.5", std::nullopt},
      {"-9223372036854775809", std::nullopt}, {"17000000000001e-1", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = validAnswer().dump();
    const std::string written = "\"timestamp\":1700000000123";
    text.replace(text.find(written), written.size(), std::string("\"timestamp\":") + c.text);
    std::shared_ptr<LocationRes> res;
    EXPECT_EQ(decodeError([&] { res = LocationRes::decode(parseJsonDocument(text)); }).empty(), c.expected.has_value());
    if (res && c.expected) {
      EXPECT_EQ(res->location->timestamp, *c.expected);
    }
  }
}

// What the network client decodes from: the answer's text through the kit's parser.
TEST(LocationResDecode, AnswerTextParsesWithinTheNestingBound) {
  const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const auto withExtra = [](const std::string& extra) {
    std::string text = validAnswer().dump();
    return text.insert(1, "\"extra\":" + extra + ",");
  };
  const std::string tooDeep = "the document nests deeper than 64 levels";
  const struct {
    const char* name;
    std::string text;
    std::string error;  // what() of the exception; empty: decodes
  } cases[] = {
      {"as the service writes it", validAnswer().dump(2), ""},
      {"64 levels with an ignored member", withExtra(nested(kMaxJsonDepth - 1)), ""},
      {"65 levels with an ignored member", withExtra(nested(kMaxJsonDepth)), tooDeep},
      {"8 MiB of opening brackets", std::string(std::size_t{8} << 20, '['), tooDeep},
      {"nesting in an object member", withExtra(std::string(70, '[') + "{\"a\":1}" + std::string(70, ']')), tooDeep},
      {"cut short", validAnswer().dump().substr(0, 40), "[json.exception.parse_error.101] parse error"},
      {"text after the answer", validAnswer().dump() + " {}", "[json.exception.parse_error.101] parse error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    try {
      EXPECT_EQ(LocationRes::decode(parseJsonDocument(c.text))->location->timestamp, 1700000000123);
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_EQ(error.substr(0, c.error.size()), c.error);
    EXPECT_EQ(error.empty(), c.error.empty()) << error;
  }
}

TEST(LocationResEncode, RoundTripsAndLeavesOutAbsentOptionals) {
  const json answer = validAnswer();
  const auto res = LocationRes::decode(answer);
  EXPECT_EQ(res->encode(), answer);
  EXPECT_EQ(Decodable<std::shared_ptr<LocationRes>>::decode(answer)->encode(), answer);

  res->location->place = nullptr;
  res->location->address = nullptr;
  const json encoded = res->encode();
  EXPECT_FALSE(encoded["location"].contains("place"));
  EXPECT_FALSE(encoded["location"].contains("address"));
  EXPECT_EQ(LocationRes::decode(encoded)->encode(), encoded);

  // A required member the caller cleared is written as null and does not decode.
  res->location->position->point = nullptr;
  EXPECT_TRUE(res->encode()["location"]["position"]["point"].is_null());
  EXPECT_FALSE(decodeError([&] { LocationRes::decode(res->encode()); }).empty());
}

}  // namespace
}  // namespace tovik::test
