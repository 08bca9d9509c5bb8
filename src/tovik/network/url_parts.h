#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tovik {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
/// A URL parsed by libcurl's URL API.
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
/// A string libcurl allocated.
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

/// `part` of `url`, or none when it has no such part.
std::optional<std::string> urlPart(CURLU* url, CURLUPart part);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

/// "localhost", 127.0.0.0/8 or [::1]: where plain http may go, since the query carries the key.
bool isLoopbackHost(std::string_view host);

}  // namespace tovik
