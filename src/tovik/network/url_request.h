#pragma once

#include <optional>
#include <string>

#include "tovik/network/http_header_fields.h"
#include "tovik/network/http_method.h"

namespace tovik {

/// One HTTP request as the network client sends it; made by `RequestBuilder::makeURLRequest`.
struct URLRequest {
  /// Seconds an exchange may take when its request names no positive time-out.
  static constexpr double kDefaultTimeoutInterval = 60.0;

  /// Absolute address, query included.
  std::string url;
  HTTPMethod method = HTTPMethod::get;
  HTTPHeaderFields headers;
  /// The encoded body; none for a request without body.
  std::optional<std::string> httpBody;
  /// Seconds the whole exchange may take.
  double timeoutInterval = kDefaultTimeoutInterval;
};

}  // namespace tovik
