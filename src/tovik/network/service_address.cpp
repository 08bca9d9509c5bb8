#include "tovik/network/service_address.h"

#include <string>

#include "tovik/network/url_parts.h"

namespace tovik {

std::optional<std::string_view> serviceAddressProblem(std::string_view url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) {
    return "the address has no scheme: write it as https://host[:port][/path]";
  }
  // libcurl would read "https:///v1" as the host "v1".
  const std::string_view authority = url.substr(schemeEnd + 3);
  if (authority.empty() || std::string_view("/?#:").find(authority.front()) != std::string_view::npos) {
    return "the address names no host";
  }
  UrlHandle parsed(curl_url());
  const std::string text(url);
  // Any scheme parses, so that an unusable one is named as such rather than as a bad address.
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return "the address is not a well-formed URL";
  }
  const auto scheme = urlPart(parsed.get(), CURLUPART_SCHEME);
  const bool secure = scheme && equalsIgnoringCase(*scheme, "https");
  const bool plain = scheme && equalsIgnoringCase(*scheme, "http");
  if (!secure && !plain) {
    return "the scheme must be https (or http to a loopback host)";
  }
  const auto host = urlPart(parsed.get(), CURLUPART_HOST);
  if (!host || host->empty()) {
    return "the address names no host";
  }
  if (plain && !isLoopbackHost(*host)) {
    return "plain http is allowed only to a loopback host (localhost, 127.0.0.0/8, [::1]): use https";
  }
  if (text.find('?') != std::string::npos) {
    return "the address has a query: the kit adds its own to every call";
  }
  if (text.find('#') != std::string::npos) {
    return "the address has a fragment";
  }
  return std::nullopt;
}

}  // namespace tovik
