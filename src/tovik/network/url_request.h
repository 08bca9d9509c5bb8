#pragma once

#include <optional>
#include <string>

#include "tovik/network/http_header_fields.h"
#include "tovik/network/http_method.h"

namespace tovik {

/// Seconds a request to the location service may take: the one time-out of the kit, also
/// used for a request that names no positive time-out of its own.
inline constexpr double kRequestTimeoutInterval = 30.0;

/// One HTTP request as the network client sends it; made by `RequestBuilder::makeURLRequest`.
struct URLRequest {

  /// Absolute address, query included.
  std::string url;
  HTTPMethod method = HTTPMethod::get;
  HTTPHeaderFields headers;
  /// The encoded body; none for a request without body.
  std::optional<std::string> httpBody;
  /// Seconds the whole exchange may take.
  double timeoutInterval = kRequestTimeoutInterval;
};

}  // namespace tovik
