#include "tovik/network/logged_url.h"

#include <algorithm>
#include <cctype>

namespace tovik {
namespace {

constexpr std::string_view kMask = "***";

bool namesAKey(std::string_view name) {
  constexpr std::string_view kSuffix = "key";
  return name.size() >= kSuffix.size() &&
         std::equal(kSuffix.begin(), kSuffix.end(), name.end() - static_cast<std::ptrdiff_t>(kSuffix.size()),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// The query "a=1&access_key=s" with every key's value masked.
std::string maskedQuery(std::string_view query) {
  std::string out;
  while (true) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view item = query.substr(0, end);
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && namesAKey(item.substr(0, equals))) {
      out.append(item.substr(0, equals + 1)).append(kMask);
    } else {
      out.append(item);
    }
    if (end == query.size()) {
      return out;
    }
    out += '&';
    query.remove_prefix(end + 1);
  }
}

}  // namespace

std::string loggedURL(std::string_view url) {
  std::string out;
  std::size_t at = 0;
  if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
    at = scheme + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", at), url.size());
    const std::size_t userEnd = url.substr(at, authorityEnd - at).rfind('@');
    out.append(url.substr(0, at));
    if (userEnd != std::string_view::npos) {
      out.append(kMask);
      at += userEnd;  // keeps the '@'
    }
  }
  const std::size_t queryBegin = url.find('?', at);
  if (queryBegin == std::string_view::npos || url.find('#', at) < queryBegin) {
    return out.append(url.substr(at));
  }
  const std::size_t fragment = std::min(url.find('#', queryBegin), url.size());
  out.append(url.substr(at, queryBegin + 1 - at));
  out.append(maskedQuery(url.substr(queryBegin + 1, fragment - queryBegin - 1)));
  return out.append(url.substr(fragment));
}

}  // namespace tovik
