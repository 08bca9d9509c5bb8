#include "server/scenario_handler.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "server/text_match.h"
#include "tovik/model/tk_category.h"

namespace tovik::server {

namespace {

/// "(query) AND (region : city words)", or the query alone when the city names nothing.
std::string withCity(const std::string& query, const std::string& city) {
  auto cityWords = TextMatch::words(city);
  if (cityWords.empty()) {
    return query;
  }
  if (cityWords.size() > TextMatch::kMaxWords) {
    cityWords.resize(TextMatch::kMaxWords);
  }
  return "(" + query + ") AND (" + TextMatch::ftsQuery(cityWords, "region", true) + ")";
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

ScenarioHandler::ScenarioHandler(std::shared_ptr<const PlaceStore> store)
    : store_(store), addresses_(std::move(store)) {}

std::vector<std::shared_ptr<GeocodeRes>> ScenarioHandler::geocode(const GeocodeRequest& request) const {
  const auto candidates =
      store_->matching(withCity(TextMatch::ftsQuery(request.words, "name", false), request.city), "", kCandidates);
  std::vector<Scored> ranked;
  for (const auto& place : candidates) {
    const double relevance = TextMatch::relevance(request.words, place.name, store_->regionWords(place));
    if (relevance > 0.0) {
      ranked.push_back(Scored{&place, relevance, 0.0});
    }
  }
  rankByText(ranked);
  return page(ranked, 1, static_cast<int>(kGeocodeResults));
}

std::vector<std::shared_ptr<GeocodeRes>> ScenarioHandler::placeSearch(const PlaceSearchRequest& request) const {
  const auto candidates = store_->matching(withCity(TextMatch::ftsQuery(request.words, "name", true), request.city),
                                           store_->storedCode(request.cityCode), kCandidates);
  std::vector<Scored> ranked;
  for (const auto& place : candidates) {
    // The index has matched every word; letters this service does not fold may still
    // leave the score at 0, which must not hide the match.
    ranked.push_back(Scored{&place, std::max(TextMatch::relevance(request.words, place.name), 0.1), 0.0});
  }
  rankByText(ranked);
  return page(ranked, request.pageIndex, request.pageSize);
}

std::vector<std::shared_ptr<GeocodeRes>> ScenarioHandler::nearbySearch(const NearbySearchRequest& request) const {
  if (!request.category.empty() && !sameText(request.category, kPlaceType)) {
    return {};
  }
  const Coordinate centre =
      convertDatum(Coordinate{request.latitude, request.longitude}, Datum::gcj02, Datum::wgs84);
  const auto nearby = store_->within(centre.latitude, centre.longitude, request.radius);
  std::vector<Scored> ranked;
  for (const auto& found : nearby) {
    if (request.words.empty()) {
      ranked.push_back(Scored{&found.place, 1.0, found.distance});
    } else if (TextMatch::matchesAll(request.words, found.place.name)) {
      ranked.push_back(
          Scored{&found.place, std::max(TextMatch::relevance(request.words, found.place.name), 0.1), found.distance});
    }
  }
  // `within` answers nearest first; a stable sort keeps that order among equals.
  if (request.orderByRelevance) {
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Scored& a, const Scored& b) { return a.relevance > b.relevance; });
  }
  return page(ranked, request.pageIndex, request.pageSize);
}

void ScenarioHandler::rankByText(std::vector<Scored>& ranked) {
  std::sort(ranked.begin(), ranked.end(), [](const Scored& a, const Scored& b) {
    if (a.relevance != b.relevance) {
      return a.relevance > b.relevance;
    }
    if (a.place->importance != b.place->importance) {
      return a.place->importance > b.place->importance;
    }
    return a.place->id < b.place->id;
  });
}

std::shared_ptr<GeocodeRes> ScenarioHandler::item(const Scored& scored) const {
  const Place& place = *scored.place;
  const Coordinate gcj = convertDatum(Coordinate{place.latitude, place.longitude}, Datum::wgs84, Datum::gcj02);
  char point[64];
  std::snprintf(point, sizeof point, "%.6f,%.6f", gcj.longitude, gcj.latitude);

  auto result = std::make_shared<GeocodeRes>();
  result->id = std::to_string(place.id);
  result->geoPoint = point;
  result->type = kPlaceType;
  result->name = place.name;
  result->code =
      store_->answerCode(!place.admin2.empty() ? place.admin2 : !place.admin1.empty() ? place.admin1 : place.country);
  result->categories = std::vector{std::make_shared<TkCategory>(kPlaceType, "populated place")};
  result->address = addresses_.compose(place);
  result->relevance = scored.relevance;
  result->distance = scored.distance;
  return result;
}

std::vector<std::shared_ptr<GeocodeRes>> ScenarioHandler::page(const std::vector<Scored>& ranked, int pageIndex,
                                                               int pageSize) const {
  std::vector<std::shared_ptr<GeocodeRes>> results;
  const auto first = static_cast<std::size_t>(pageIndex - 1) * static_cast<std::size_t>(pageSize);
  for (std::size_t k = first; k < ranked.size() && k < first + static_cast<std::size_t>(pageSize); ++k) {
    results.push_back(item(ranked[k]));
  }
  return results;
}

}  // namespace tovik::server
