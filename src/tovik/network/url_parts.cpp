#include "tovik/network/url_parts.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

namespace tovik {

std::optional<std::string> urlPart(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || raw == nullptr) {
    return std::nullopt;
  }
  CurlString owned(raw);
  return std::string(owned.get());
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool isLoopbackHost(std::string_view host) {
  if (equalsIgnoringCase(host, "localhost")) {
    return true;
  }
  std::string text(host);
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    in6_addr v6{};
    return inet_pton(AF_INET6, text.substr(1, text.size() - 2).c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
  }
  in_addr v4{};
  return inet_pton(AF_INET, text.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

}  // namespace tovik
