#pragma once

#include <string>

#include "tovik/network/http_header_fields.h"

namespace tovik {

/// What an HTTP answer said about itself: the status code, the header fields and the
/// address that was asked.
struct HTTPURLResponse {
  std::string url;
  int statusCode = 0;
  HTTPHeaderFields headerFields;

  bool operator==(const HTTPURLResponse&) const = default;
};

}  // namespace tovik
