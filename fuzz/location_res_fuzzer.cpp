// The fused-location answer as the network client decodes it: any bytes either fail to
// parse, or decode into a LocationRes, or fail with DecodingError (any other exception is a
// fault), and a decoded result survives its own encoding unchanged.
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
  using Codec = tovik::JsonCodec<tovik::LocationRes>;
  std::shared_ptr<tovik::LocationRes> result;
  try {
    result = Codec::decode(document);
  } catch (const tovik::DecodingError&) {
    return 0;
  }
  if (!result) {
    __builtin_trap();
  }
  const nlohmann::json encoded = Codec::encode(*result);
  if (Codec::encode(*Codec::decode(encoded)) != encoded) {
    __builtin_trap();
  }
  return 0;
}
