// The reference service's reading of a request. Input: the raw query text ("name=value"
// items joined by '&', taken as the server hands them over, already decoded), a newline,
// then the body. Each of the four calls either gives a request within the service's
// documented limits or a 400 error that names a field; it never throws.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "server/request_parsing.h"
#include "server/text_match.h"

namespace {

using tovik::server::RequestError;
using tovik::server::RequestParsing;

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

template <class T>
const T* accepted(const std::variant<T, RequestError>& outcome) {
  if (const auto* error = std::get_if<RequestError>(&outcome)) {
    check(!error->field.empty() && !error->message.empty());
    return nullptr;
  }
  return &std::get<T>(outcome);
}

void checkWords(const std::vector<std::string>& words) {
  check(words.size() <= tovik::server::TextMatch::kMaxWords);
  for (const auto& word : words) {
    check(!word.empty() && word.size() <= RequestParsing::kMaxText);
  }
}

void checkPage(int index, int size) {
  check(index >= 1 && index <= RequestParsing::kMaxPageIndex);
  check(size >= 1 && size <= RequestParsing::kMaxPageSize);
}

void checkPoint(double latitude, double longitude) {
  check(std::isfinite(latitude) && std::abs(latitude) <= 90);
  check(std::isfinite(longitude) && std::abs(longitude) <= 180);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto newline = std::min(input.find('\n'), input.size());
  const std::string_view rawQuery = input.substr(0, newline);
  const std::string_view body = input.substr(std::min(newline + 1, input.size()));

  tovik::server::QueryItems query;
  for (std::size_t start = 0; start <= rawQuery.size();) {
    const auto end = std::min(rawQuery.find('&', start), rawQuery.size());
    const std::string_view item = rawQuery.substr(start, end - start);
    const auto equals = std::min(item.find('='), item.size());
    if (!item.empty()) {
      query.emplace(std::string(item.substr(0, equals)), std::string(item.substr(std::min(equals + 1, item.size()))));
    }
    start = end + 1;
  }

  if (const auto outcome = RequestParsing::trackPoints(body, query); const auto* track = accepted(outcome)) {
    checkPoint(track->latitude, track->longitude);
  }
  if (const auto outcome = RequestParsing::geocode(query); const auto* geocode = accepted(outcome)) {
    check(!geocode->words.empty());
    checkWords(geocode->words);
  }
  if (const auto outcome = RequestParsing::placeSearch(query); const auto* search = accepted(outcome)) {
    check(!search->words.empty());
    checkWords(search->words);
    checkPage(search->pageIndex, search->pageSize);
  }
  if (const auto outcome = RequestParsing::nearbySearch(query); const auto* nearby = accepted(outcome)) {
    checkWords(nearby->words);
    checkPage(nearby->pageIndex, nearby->pageSize);
    checkPoint(nearby->latitude, nearby->longitude);
    check(nearby->radius >= 1 && nearby->radius <= RequestParsing::kMaxRadius);
  }
  return 0;
}
