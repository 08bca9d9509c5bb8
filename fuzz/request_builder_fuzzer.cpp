// RequestBuilder::makeURLRequest with arbitrary address, query, header and body text.
// Input: fields separated by NUL bytes; the first is the address, each further one is
// "q<name>=<value>" (a query item), "h<name>:<value>" (a header field), "m<method>",
// "j<JSON document>" (the body) or "s<text>" (a body that is one JSON string).
// What is checked: a request is made only for https, or plain http to loopback; every
// query item arrives percent-encoded, once; no header can carry a line break; the body is
// the JSON that was given; a refusal is one of the builder's own errors.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tovik/network/network_error.h"
#include "tovik/network/request_builder.h"

namespace {

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

bool isUnreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

std::string encoded(std::string_view text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    if (isUnreserved(c)) {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// Percent-encodings with upper-case hex digits (libcurl writes them in lower case; both are
// the same octet).
std::string upperHex(std::string text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] == '%') {
      text[i + 1] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
      text[i + 2] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 2])));
    }
  }
  return text;
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string part(CURLU* url, CURLUPart which) {
  char* text = nullptr;
  if (curl_url_get(url, which, &text, 0) != CURLUE_OK || text == nullptr) {
    return {};
  }
  std::string out(text);
  curl_free(text);
  return out;
}

bool isLoopback(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
  if (host == "localhost") {
    return true;
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    in6_addr v6{};
    return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
  }
  in_addr v4{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  tovik::RequestBuilder builder;
  std::size_t start = 0;
  for (int index = 0; start <= input.size(); ++index) {
    const auto end = std::min(input.find('\0', start), input.size());
    const std::string_view field = input.substr(start, end - start);
    start = end + 1;
    if (index == 0) {
      builder.urlString = std::string(field);
      continue;
    }
    if (field.empty()) {
      continue;
    }
    const std::string_view rest = field.substr(1);
    const auto split = [&](char mark) {
      const auto at = std::min(rest.find(mark), rest.size());
      return std::pair(std::string(rest.substr(0, at)), std::string(rest.substr(std::min(at + 1, rest.size()))));
    };
    switch (field[0]) {
      case 'q':
        builder.queryParameters.insert(split('='));
        break;
      case 'h':
        builder.headers.insert(split(':'));
        break;
      case 'm':
        builder.method = tovik::httpMethodFromRawValue(rest).value_or(tovik::HTTPMethod::get);
        break;
      case 'j': {
        auto body = nlohmann::json::parse(rest, nullptr, false);
        if (!body.is_discarded()) {
          builder.bodyParameters = std::move(body);
        }
        break;
      }
      case 's':
        builder.bodyParameters = nlohmann::json(std::string(rest));
        break;
      default:
        break;
    }
  }

  const auto result = builder.makeURLRequest();
  if (const auto* error = std::get_if<tovik::Error>(&result)) {
    const auto kind = tovik::NetworkError::caseOf(*error);
    check(kind == tovik::NetworkError::Case::invalidURL || kind == tovik::NetworkError::Case::invalidRequest ||
          error->domain() == tovik::RequestBuilder::kEncodingErrorDomain);
    return 0;
  }
  const auto& request = std::get<tovik::URLRequest>(result);

  std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  check(curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), 0) == CURLUE_OK);
  const std::string scheme = part(url.get(), CURLUPART_SCHEME);
  check(scheme == "https" || (scheme == "http" && isLoopback(part(url.get(), CURLUPART_HOST))));
  check(request.url.find_first_of(std::string_view(" \r\n\t\0", 5)) == std::string::npos);
  if (!builder.queryParameters.empty()) {
    const std::string query = "&" + upperHex(part(url.get(), CURLUPART_QUERY)) + "&";
    for (const auto& [name, value] : builder.queryParameters) {
      check(query.find("&" + encoded(name) + "=" + encoded(value) + "&") != std::string::npos);
    }
  }
  std::size_t contentTypes = 0;
  for (const auto& [name, value] : request.headers) {
    check(name.find_first_of(std::string_view("\r\n:\0", 4)) == std::string::npos);
    check(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    contentTypes += tovik::HTTPHeaderFields::namesEqual(name, "Content-Type") ? 1 : 0;
  }
  check(contentTypes == 1);
  check(request.httpBody.has_value() == builder.bodyParameters.has_value());
  if (request.httpBody) {
    check(nlohmann::json::parse(*request.httpBody) == *builder.bodyParameters);
  }
  return 0;
}
