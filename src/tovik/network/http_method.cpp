#include "tovik/network/http_method.h"

#include <array>
#include <utility>

namespace tovik {

namespace {

constexpr std::array<std::pair<HTTPMethod, std::string_view>, 5> kRawValues{{
    {HTTPMethod::get, "GET"},
    {HTTPMethod::post, "POST"},
    {HTTPMethod::put, "PUT"},
    {HTTPMethod::delete_, "DELETE"},
    {HTTPMethod::patch, "PATCH"},
}};

}  // namespace

std::string_view rawValue(HTTPMethod method) {
  for (const auto& [m, raw] : kRawValues) {
    if (m == method) {
      return raw;
    }
  }
  return "GET";
}

std::optional<HTTPMethod> httpMethodFromRawValue(std::string_view raw) {
  for (const auto& [m, value] : kRawValues) {
    if (value == raw) {
      return m;
    }
  }
  return std::nullopt;
}

}  // namespace tovik
