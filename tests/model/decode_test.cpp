// The result classes against the service's answers: the decoding tables are in data/.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "services/outcome_table.h"
#include "tovik/model/decoding_error.h"
#include "tovik/model/json_codec.h"
#include "tovik/model/json_document.h"

namespace tovik::test {
namespace {

using nlohmann::json;

// The answer's text, as the case changes it; see the data files.
std::string answerText(const OutcomeCase& c, json& changed) {
  changed = changed.patch(json::parse(c.get("patch").value_or("[]")));
  if (const auto wrap = c.get("wrap-in")) {
    changed = *wrap == "array" ? json::array({changed}) : json{{*wrap, changed}};
  }
  std::string text = changed.dump(c.get("pretty") ? 2 : -1);
  if (const auto timestamp = c.get("timestamp")) {
    text.replace(text.find("1700000000123"), 13, *timestamp);
  }
  if (const auto nest = c.get("nest")) {
    const std::size_t depth = std::stoul(*nest);
    const std::string inner = nest->substr(nest->find(' ') == std::string::npos ? nest->size() : nest->find(' ') + 1);
    text.insert(1, "\"extra\":" + std::string(depth, '[') + inner + std::string(depth, ']') + ",");
  }
  text = c.get("cut") ? text.substr(0, std::stoul(*c.get("cut"))) : text;
  return c.get("brackets") ? std::string(std::stoul(*c.get("brackets")), '[') : text + c["append"];
}

TEST(DecodeTable, EveryAnswerDecodesOrFailsWithItsPath) {
  const std::pair<const char*, std::function<json(const json&)>> families[] = {
      {"model/data/location_res.outcomes",
       [](const json& j) { return JsonCodec<LocationRes>::encode(*JsonCodec<LocationRes>::decode(j)); }},
      {"model/data/geocode_list.outcomes", [](const json& j) { return encodeGeocodeList(decodeGeocodeList(j)); }},
  };
  for (const auto& [file, decodeAndEncode] : families) {
    const auto cases = loadOutcomes(file);
    const json answer = json::parse(cases.front()["answer"]);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(file) + ": " + c.name);
      json changed = answer;
      const std::string text = answerText(c, changed);
      std::string error;
      json encoded;
      try {
        encoded = decodeAndEncode(parseJsonDocument(text));
      } catch (const std::exception& e) {
        error = e.what();
      }
      const std::string expected = c["error"];
      if (expected.ends_with("...")) {
        EXPECT_TRUE(error.starts_with(expected.substr(0, expected.size() - 3))) << error;
      } else {
        EXPECT_EQ(error, expected);
      }
      if (error.empty()) {
        EXPECT_EQ(encoded, changed.patch(json::parse(c.get("encodes").value_or("[]"))));
      }
    }
  }
}

// What the tables leave out: what the classes encode alone. Where each decoded field lands is
// read through every accessor of the C interface (capi_services_test.c).
TEST(DecodeTable, ClearedMembersEncodeAsNullAndDefaultsAsEmpty) {
  const auto res =
      JsonCodec<LocationRes>::decode(json::parse(loadOutcomes("model/data/location_res.outcomes").front()["answer"]));
  // A required member the caller cleared is written as null and does not decode.
  res->location->position->point = nullptr;
  EXPECT_TRUE(JsonCodec<LocationRes>::encode(*res)["location"]["position"]["point"].is_null());
  EXPECT_THROW(JsonCodec<LocationRes>::decode(JsonCodec<LocationRes>::encode(*res)), DecodingError);

  EXPECT_EQ(JsonCodec<GeocodeRes>::encode(GeocodeRes()),
            json::parse(R"({"id": "", "geoPoint": "", "type": "", "name": "", "code": "",
                            "address": {"name": "", "context": []}, "relevance": 0.0, "distance": 0.0})"));
  // An empty list of categories stays a list: the "categories empty" row.
  EXPECT_EQ(JsonCodec<AddressContext>::encode(AddressContext()), json({{"type", ""}, {"name", ""}, {"code", ""}}));
}

}  // namespace
}  // namespace tovik::test
