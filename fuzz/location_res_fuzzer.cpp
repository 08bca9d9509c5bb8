// The fused-location answer as the network client decodes it: any bytes either fail to
// parse, or decode into a LocationRes, or fail with DecodingError (any other exception is a
// fault), and a decoded result survives its own encoding unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/json_document.h"
#include "tovik/model/location_res.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nlohmann::json document;
  try {
    document = tovik::parseJsonDocument(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const nlohmann::json::exception&) {
    return 0;
  } catch (const tovik::DecodingError&) {
    return 0;  // nested too deep
  }
  std::shared_ptr<tovik::LocationRes> result;
  try {
    result = tovik::LocationRes::decode(document);
  } catch (const tovik::DecodingError&) {
    return 0;
  }
  if (!result) {
    __builtin_trap();
  }
  const nlohmann::json encoded = result->encode();
  if (tovik::LocationRes::decode(encoded)->encode() != encoded) {
    __builtin_trap();
  }
  return 0;
}
