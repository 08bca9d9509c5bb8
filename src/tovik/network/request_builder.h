#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "tovik/network/http_method.h"
#include "tovik/network/url_request.h"
#include "tovik/system/error.h"

namespace tovik {

/// The description of one request to the location service; `makeURLRequest` turns it into
/// the `URLRequest` the network client sends. A plain value, used once.
struct RequestBuilder {
  /// Either the request, or why none could be made.
  using Result = std::variant<URLRequest, Error>;

  /// Domain of the errors for a body that cannot be written as JSON.
  static constexpr std::string_view kEncodingErrorDomain = "EncodingError";
  enum EncodingErrorCode : long { nonFiniteNumber = 1, invalidUTF8 = 2 };

  /// Absolute "https://" address of the endpoint, without query. Plain "http://" is
  /// accepted only for loopback hosts (127.0.0.0/8, ::1, "localhost"): the query carries the
  /// access key.
  std::string urlString;
  HTTPMethod method = HTTPMethod::get;
  /// Extra header fields.
  std::map<std::string, std::string> headers;
  /// Query items; when not empty they replace any query in `urlString`.
  std::map<std::string, std::string> queryParameters;
  /// The body, sent as compact JSON when present.
  std::optional<nlohmann::json> bodyParameters;
  /// Seconds the whole exchange may take.
  double timeoutInterval = kRequestTimeoutInterval;

  /// Builds the request; reads only the builder and starts no I/O. Fails with
  /// `NetworkError::invalidURL()` for an address that does not parse, has another scheme or
  /// is plain http to a host other than loopback; with `NetworkError::invalidRequest()` for
  /// a header field that cannot be sent as given (a line break in it, a name that is not a
  /// token) or a query item that cannot be percent-encoded; with an error of `kEncodingErrorDomain` for a body holding a number that is not
  /// finite or a string that is not UTF-8 (never sent as null or mangled).
  Result makeURLRequest() const;
};

}  // namespace tovik
