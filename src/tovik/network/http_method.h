#pragma once

#include <optional>
#include <string_view>

namespace tovik {

/// The request method; its raw value is the token sent on the wire.
enum class HTTPMethod { get, post, put, delete_, patch };

/// "GET", "POST", "PUT", "DELETE" or "PATCH".
std::string_view rawValue(HTTPMethod method);

/// The method whose raw value is exactly `raw` (case-sensitive), or none.
std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view raw);

}  // namespace tovik
