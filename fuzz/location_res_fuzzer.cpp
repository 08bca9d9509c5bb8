// The fused-location answer as the network client decodes it: any bytes either decode
// into a LocationRes or fail with DecodingError (any other exception is a fault), and a
// decoded result survives its own encoding unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/model/decoding_error.h"
#include "tovik/model/location_res.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto document = nlohmann::json::parse(std::string_view(reinterpret_cast<const char*>(data), size), nullptr,
                                              /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    return 0;
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
