#include "tovik/model/geocode_res.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/decode_outcome.h"
#include "tovik/model/address_context.h"

namespace tovik::test {
namespace {

using nlohmann::json;
using List = std::vector<std::shared_ptr<GeocodeRes>>;

json validItem(const std::string& id) {
  return {{"id", id},
          {"geoPoint", "116.4806,39.9968"},
          {"type", "poi"},
          {"name", "望京SOHO"},
          {"code", "110105"},
          {"categories", {{{"id", "050000"}, {"name", "餐饮服务"}}, {{"id", "120000"}, {"name", "商务住宅"}}}},
          {"address",
           {{"name", "北京市朝阳区"}, {"context", {{{"type", "city"}, {"name", "北京市"}, {"code", "110000"}}}}}},
          {"relevance", 0.92},
          {"distance", 350.5}};
}

TEST(GeocodeListDecode, VariantsDecodeOrFailWithTheirPath) {
  const struct {
    const char* name;
    std::function<void(json&)> change;
    std::string error;  // empty: decodes, and `check` holds
    std::function<void(const List&)> check = {};
  } variants[] = {
      {"unchanged", [](json&) {}, "",
       [](const List& list) {
         ASSERT_EQ(list.size(), 3U);
         EXPECT_EQ(list[0]->id + list[1]->id + list[2]->id, "abc");
         EXPECT_EQ((*list[0]->categories)[1]->name, "商务住宅");
       }},
      {"categories missing", [](json& a) { a[1].erase("categories"); }, "",
       [](const List& list) { EXPECT_FALSE(list[1]->categories); }},
      {"categories null", [](json& a) { a[1]["categories"] = nullptr; }, "",
       [](const List& list) { EXPECT_FALSE(list[1]->categories); }},
      {"categories empty", [](json& a) { a[1]["categories"] = json::array(); }, "",
       [](const List& list) { EXPECT_TRUE(list[1]->categories && list[1]->categories->empty()); }},
      {"integer relevance", [](json& a) { a[0]["relevance"] = 1; }, "",
       [](const List& list) { EXPECT_EQ(list[0]->relevance, 1.0); }},
      {"extra keys", [](json& a) { a[2]["score"] = {{"x", 1}}; }, "",
       [](const List& list) { EXPECT_EQ(list.size(), 3U); }},
      {"empty answer", [](json& a) { a = json::array(); }, "", [](const List& list) { EXPECT_TRUE(list.empty()); }},
      {"wrapped in an object", [](json& a) { a = {{"results", a}}; }, "expected an array, found object"},
      {"address missing", [](json& a) { a[1].erase("address"); }, "[1].address: required key is missing"},
      {"address without name", [](json& a) { a[0]["address"].erase("name"); },
       "[0].address.name: required key is missing"},
      {"distance an object", [](json& a) { a[2]["distance"] = {{"line", 350.5}}; },
       "[2].distance: expected a number, found object"},
      {"id a number", [](json& a) { a[0]["id"] = 7; }, "[0].id: expected a string, found number"},
      {"code a number", [](json& a) { a[1]["code"] = 110105; }, "[1].code: expected a string, found number"},
      {"geoPoint an array", [](json& a) { a[1]["geoPoint"] = {116.4, 39.9}; },
       "[1].geoPoint: expected a string, found array"},
      {"category name null", [](json& a) { a[2]["categories"][1]["name"] = nullptr; },
       "[2].categories[1].name: expected a string, found null"},
      {"categories an object", [](json& a) { a[2]["categories"] = json::object(); },
       "[2].categories: expected an array, found object"},
      {"element a string", [](json& a) { a[1] = "b"; }, "[1]: expected an object, found string"},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant.name);
    json answer = json::array({validItem("a"), validItem("b"), validItem("c")});
    variant.change(answer);
    std::optional<List> list;
    EXPECT_EQ(decodeError([&] { list = Decodable<List>::decode(answer); }), variant.error);
    if (list && variant.check) variant.check(*list);
  }
}

TEST(GeocodeResCodec, DefaultsAndRoundTripLeaveOutAbsentCategories) {
  EXPECT_EQ(std::make_shared<GeocodeRes>()->encode(),
            json::parse(R"({"id": "", "geoPoint": "", "type": "", "name": "", "code": "",
                "address": {"name": "", "context": []}, "relevance": 0.0, "distance": 0.0})"));
  const json item = validItem("a");
  const auto decoded = GeocodeRes::decode(item);
  EXPECT_EQ(decoded->encode(), item);
  decoded->categories.emplace();
  EXPECT_EQ(decoded->encode()["categories"], json::array());

  const json level = {{"type", "district"}, {"name", "朝阳区"}, {"code", "110105"}};
  EXPECT_EQ(AddressContext::decode(level)->encode(), level);
  EXPECT_EQ(std::make_shared<AddressContext>()->encode(), json({{"type", ""}, {"name", ""}, {"code", ""}}));
  EXPECT_EQ(decodeError([&] { AddressContext::decode({{"type", "x"}, {"name", "y"}, {"code", 110105}}); }),
            "code: expected a string, found number");
}

}  // namespace
}  // namespace tovik::test
