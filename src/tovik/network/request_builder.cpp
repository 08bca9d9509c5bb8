#include "tovik/network/request_builder.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "tovik/network/network_error.h"
#include "tovik/network/url_parts.h"
#include "tovik/network/utf8.h"

namespace tovik {

namespace {

// Percent-encodes everything but the unreserved characters of RFC 3986, so that '+', '&',
// '=' and spaces arrive as sent whatever the server's form decoding does with '+'. False
// when libcurl refuses (out of memory, or longer than it encodes): the request then fails
// rather than sending the item empty.
bool appendPercentEncoded(std::string& query, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  CurlString encoded(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
  if (!encoded) {
    return false;
  }
  query += encoded.get();
  return true;
}

bool isTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
    return true;
  }
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool isSendableField(std::string_view name, std::string_view value) {
  if (name.empty() || !std::all_of(name.begin(), name.end(), isTokenChar)) {
    return false;
  }
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

Error encodingError(long code, std::string detail) {
  return Error(std::string(RequestBuilder::kEncodingErrorDomain), code, "数据编码失败：" + std::move(detail));
}

std::string childPath(const std::string& parent, const std::string& key) {
  return parent.empty() ? key : parent + "." + key;
}

std::string elementPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string shownPath(const std::string& path) { return path.empty() ? "请求体" : path; }

// Whether every number in `value` can be written as JSON (no NaN, no infinity).
bool allFinite(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_float:
      return std::isfinite(value.get_ref<const double&>());
    case nlohmann::json::value_t::object:
    case nlohmann::json::value_t::array:
      return std::all_of(value.begin(), value.end(), allFinite);
    default:
      return true;
  }
}

// The path of the first number that JSON cannot represent (NaN, infinity), if any; only
// looked for once `allFinite` has found one.
std::optional<std::string> nonFinitePath(const nlohmann::json& value, const std::string& path) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_float:
      return std::isfinite(value.get_ref<const double&>()) ? std::nullopt : std::optional(path);
    case nlohmann::json::value_t::object:
      for (const auto& [key, member] : value.items()) {
        if (auto found = nonFinitePath(member, childPath(path, key))) {
          return found;
        }
      }
      return std::nullopt;
    case nlohmann::json::value_t::array:
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (auto found = nonFinitePath(value[i], elementPath(path, i))) {
          return found;
        }
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// The path of the first string or key that is not UTF-8; only looked for once the
// encoder has refused the body.
std::optional<std::string> invalidTextPath(const nlohmann::json& value, const std::string& path) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return isValidUTF8(value.get_ref<const std::string&>()) ? std::nullopt : std::optional(path);
    case nlohmann::json::value_t::object:
      for (const auto& [key, member] : value.items()) {
        if (!isValidUTF8(key)) {
          return shownPath(path) + " 的键";
        }
        if (auto found = invalidTextPath(member, childPath(path, key))) {
          return found;
        }
      }
      return std::nullopt;
    case nlohmann::json::value_t::array:
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (auto found = invalidTextPath(value[i], elementPath(path, i))) {
          return found;
        }
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::variant<std::string, Error> encodedBody(const nlohmann::json& body) {
  if (!allFinite(body)) {
    const auto path = nonFinitePath(body, "");
    return encodingError(RequestBuilder::nonFiniteNumber, shownPath(path.value_or("")) + " 不是有限数值");
  }
  try {
    return body.dump();
  } catch (const nlohmann::json::exception&) {
    auto path = invalidTextPath(body, "");
    return encodingError(RequestBuilder::invalidUTF8, shownPath(path.value_or("")) + " 不是有效的 UTF-8 文本");
  }
}

}  // namespace

RequestBuilder::Result RequestBuilder::makeURLRequest() const {
  UrlHandle url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, urlString.c_str(), 0) != CURLUE_OK) {
    return NetworkError::invalidURL();
  }
  const auto scheme = urlPart(url.get(), CURLUPART_SCHEME);
  const auto host = urlPart(url.get(), CURLUPART_HOST);
  if (!scheme || !host || host->empty()) {
    return NetworkError::invalidURL();
  }
  const bool secure = equalsIgnoringCase(*scheme, "https");
  const bool plain = equalsIgnoringCase(*scheme, "http");
  if (!secure && !(plain && isLoopbackHost(*host))) {
    return NetworkError::invalidURL();
  }

  if (!queryParameters.empty()) {
    std::string query;
    for (const auto& [name, value] : queryParameters) {
      if (!query.empty()) {
        query += '&';
      }
      if (!appendPercentEncoded(query, name)) {
        return NetworkError::invalidRequest();
      }
      query += '=';
      if (!appendPercentEncoded(query, value)) {
        return NetworkError::invalidRequest();
      }
    }
    if (curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), 0) != CURLUE_OK) {
      return NetworkError::invalidURL();
    }
  }
  auto absolute = urlPart(url.get(), CURLUPART_URL);
  if (!absolute) {
    return NetworkError::invalidURL();
  }

  URLRequest request;
  request.url = std::move(*absolute);
  request.method = method;
  request.timeoutInterval = timeoutInterval;
  for (const auto& [name, value] : headers) {
    if (!isSendableField(name, value)) {
      return NetworkError::invalidRequest();
    }
    request.headers.set(name, value);
  }
  if (!request.headers.contains("Content-Type")) {
    request.headers.set("Content-Type", "application/json");
  }
  if (bodyParameters) {
    auto encoded = encodedBody(*bodyParameters);
    if (auto* error = std::get_if<Error>(&encoded)) {
      return std::move(*error);
    }
    request.httpBody = std::move(std::get<std::string>(encoded));
  }
  return request;
}

}  // namespace tovik
