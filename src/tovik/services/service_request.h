#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/network/http_method.h"
#include "tovik/network/request_builder.h"

namespace tovik {

/// What one service call asks of the location service: method, path, query items and body.
/// Everything the five calls share (the base address, no extra headers, the time-out) is
/// filled in by `builder`.
struct ServiceRequest {
  HTTPMethod method = HTTPMethod::get;
  std::string_view path;
  std::map<std::string, std::string> queryParameters;
  std::optional<nlohmann::json> body;

  /// The request description for the service at `serviceURL`.
  RequestBuilder builder(std::string_view serviceURL) const;

  /// `serviceURL` followed by `path`; one trailing "/" of `serviceURL` is dropped so that
  /// "http://host/" and "http://host" name the same endpoint.
  static std::string endpoint(std::string_view serviceURL, std::string_view path);

  /// Seconds a call may take: 30, unless a test has shortened it.
  static double timeoutInterval();
  /// Replaces the time-out of every later call in the process (tests only); none restores 30 s.
  static void setTimeoutIntervalForTesting(std::optional<double> seconds);
};

}  // namespace tovik
