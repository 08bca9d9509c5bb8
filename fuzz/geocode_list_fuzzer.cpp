// The answer of the geocoding and place searches: any bytes that parse either decode into a
// list of GeocodeRes or fail with DecodingError, and a decoded list survives its own encoding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/json_codec.h"
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
  for (const auto& item : list) {
    if (!item) {
      __builtin_trap();
    }
  }
  const nlohmann::json encoded = tovik::encodeGeocodeList(list);
  if (tovik::encodeGeocodeList(tovik::decodeGeocodeList(encoded)) != encoded) {
    __builtin_trap();
  }
  return 0;
}
