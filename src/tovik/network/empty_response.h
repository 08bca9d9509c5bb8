#pragma once

#include <nlohmann/json.hpp>

#include "tovik/model/json_codec.h"

namespace tovik {

/// The answer of a call that carries no payload: decoding it reads nothing, so any
/// well-formed JSON document decodes.
struct EmptyResponse {
  bool operator==(const EmptyResponse&) const = default;
};

template <>
struct JsonCodec<EmptyResponse> {
  static EmptyResponse decode(const nlohmann::json&) { return {}; }
};

}  // namespace tovik
