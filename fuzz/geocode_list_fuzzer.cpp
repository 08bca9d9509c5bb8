// The answer of the geocoding and place searches: any bytes that parse either decode into a
// list of GeocodeRes or fail with DecodingError, and a decoded list survives its own encoding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/geocode_res.h"
#include "tovik/model/json_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nlohmann::json document;
  try {
    document = tovik::parseJsonDocument(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const nlohmann::json::exception&) {
    return 0;
  } catch (const tovik::DecodingError&) {
    return 0;  // nested too deep
  }
  std::vector<std::shared_ptr<tovik::GeocodeRes>> list;
  try {
    list = tovik::decodeGeocodeList(document);
  } catch (const tovik::DecodingError&) {
    return 0;
  }
  nlohmann::json encoded = nlohmann::json::array();
  for (const auto& item : list) {
    if (!item) {
      __builtin_trap();
    }
    encoded.push_back(item->encode());
  }
  nlohmann::json again = nlohmann::json::array();
  for (const auto& item : tovik::decodeGeocodeList(encoded)) {
    again.push_back(item->encode());
  }
  if (again != encoded) {
    __builtin_trap();
  }
  return 0;
}
