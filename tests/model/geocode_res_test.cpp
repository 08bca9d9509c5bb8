#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovik/model/address_context.h"
#include "tovik/model/decodable.h"
#include "tovik/model/decoding_error.h"
#include "tovik/model/geocode_res.h"

namespace tovik {
namespace {

using nlohmann::json;

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

json validAnswer() { return json::array({validItem("a"), validItem("b"), validItem("c")}); }

TEST(GeocodeListDecode, VariantsDecodeOrFailWithTheirPath) {
  const struct {
    const char* name;
    std::function<void(json&)> change;
    std::string error;  // empty: decodes
  } variants[] = {
      {"unchanged", [](json&) {}, ""},
      {"categories missing", [](json& a) { a[1].erase("categories"); }, ""},
      {"categories null", [](json& a) { a[1]["categories"] = nullptr; }, ""},
      {"categories empty", [](json& a) { a[1]["categories"] = json::array(); }, ""},
      {"integer relevance", [](json& a) { a[0]["relevance"] = 1; }, ""},
      {"extra keys",
       [](json& a) {
         a[2]["score"] = {{"x", 1}};
       },
       ""},
      {"empty answer", [](json& a) { a = json::array(); }, ""},
      {"wrapped in an object",
       [](json& a) {
         a = {{"results", a}};
       },
       "expected an array, found object"},
      {"address missing", [](json& a) { a[1].erase("address"); }, "[1].address: required key is missing"},
      {"address without name", [](json& a) { a[0]["address"].erase("name"); },
       "[0].address.name: required key is missing"},
      {"distance an object",
       [](json& a) {
         a[2]["distance"] = {{"line", 350.5}};
       },
       "[2].distance: expected a number, found object"},
      {"id a number", [](json& a) { a[0]["id"] = 7; }, "[0].id: expected a string, found number"},
      {"code a number", [](json& a) { a[1]["code"] = 110105; }, "[1].code: expected a string, found number"},
      {"geoPoint an array",
       [](json& a) {
         a[1]["geoPoint"] = {116.4, 39.9};
       },
       "[1].geoPoint: expected a string, found array"},
      {"category name null", [](json& a) { a[2]["categories"][1]["name"] = nullptr; },
       "[2].categories[1].name: expected a string, found null"},
      {"categories an object", [](json& a) { a[2]["categories"] = json::object(); },
       "[2].categories: expected an array, found object"},
      {"element a string", [](json& a) { a[1] = "b"; }, "[1]: expected an object, found string"},
  };
  for (const auto& variant : variants) {
    SCOPED_TRACE(variant.name);
    json answer = validAnswer();
    variant.change(answer);
    if (variant.error.empty()) {
      EXPECT_EQ(decodeGeocodeList(answer).size(), answer.size());
    } else {
      try {
        (void)decodeGeocodeList(answer);
        ADD_FAILURE() << "decoded, expected: " << variant.error;
      } catch (const DecodingError& error) {
        EXPECT_EQ(error.what(), variant.error);
      }
    }
  }
}

TEST(GeocodeListDecode, KeepsOrderValuesAndCategoryPresence) {
  json answer = validAnswer();
  answer[0]["relevance"] = 1;
  answer[1].erase("categories");
  answer[2]["categories"] = json::array();
  const auto list = Decodable<std::vector<std::shared_ptr<GeocodeRes>>>::decode(answer);
  ASSERT_EQ(list.size(), 3U);
  EXPECT_EQ(list[0]->id, "a");
  EXPECT_EQ(list[1]->id, "b");
  EXPECT_EQ(list[2]->id, "c");
  EXPECT_EQ(list[0]->relevance, 1.0);
  EXPECT_EQ(list[0]->geoPoint, "116.4806,39.9968");
  EXPECT_EQ(list[0]->distance, 350.5);
  ASSERT_TRUE(list[0]->categories.has_value());
  EXPECT_EQ((*list[0]->categories)[1]->name, "商务住宅");
  EXPECT_FALSE(list[1]->categories.has_value());
  ASSERT_TRUE(list[2]->categories.has_value());
  EXPECT_TRUE(list[2]->categories->empty());
  EXPECT_EQ(list[0]->address->context[0]->name, "北京市");
}

TEST(GeocodeResDefaults, AddressPresentCategoriesAbsent) {
  const auto item = std::make_shared<GeocodeRes>();
  EXPECT_TRUE(item->id.empty() && item->geoPoint.empty() && item->type.empty() && item->name.empty() &&
              item->code.empty());
  EXPECT_FALSE(item->categories.has_value());
  ASSERT_NE(item->address, nullptr);
  EXPECT_TRUE(item->address->name.empty());
  EXPECT_TRUE(item->address->context.empty());
  EXPECT_EQ(item->relevance, 0.0);
  EXPECT_EQ(item->distance, 0.0);
}

TEST(GeocodeResEncode, RoundTripsAndLeavesOutAbsentCategories) {
  const json item = validItem("a");
  const auto decoded = GeocodeRes::decode(item);
  EXPECT_EQ(decoded->encode(), item);

  decoded->categories.reset();
  const json encoded = decoded->encode();
  EXPECT_FALSE(encoded.contains("categories"));
  EXPECT_EQ(GeocodeRes::decode(encoded)->encode(), encoded);

  decoded->categories.emplace();
  EXPECT_EQ(decoded->encode()["categories"], json::array());
}

TEST(AddressContextCodec, DecodesAndEncodesLikeAddress) {
  const json level = {{"type", "district"}, {"name", "朝阳区"}, {"code", "110105"}};
  const auto decoded = AddressContext::decode(level);
  EXPECT_EQ(decoded->name, "朝阳区");
  EXPECT_EQ(decoded->encode(), level);
  json bad = level;
  bad["code"] = 110105;
  EXPECT_THROW((void)AddressContext::decode(bad), DecodingError);
  const auto defaults = std::make_shared<AddressContext>();
  EXPECT_TRUE(defaults->type.empty() && defaults->name.empty() && defaults->code.empty());
}

}  // namespace
}  // namespace tovik
