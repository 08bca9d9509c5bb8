#pragma once

#include <string_view>
#include <variant>

#include "server/parsed_requests.h"

namespace tovik::server {

/// Turns what a client sent into a checked request, or into the 400 error that names the
/// faulty field. Pure functions of their input: they never throw and never touch the
/// database, so they can be fuzzed on their own.
///
/// Rules shared by the calls: a query item sent twice is an error; texts are at most
/// `kMaxText` bytes and are searched by their first `TextMatch::kMaxWords` words;
/// "page_index" counts from 1 (default 1, at most `kMaxPageIndex`); "page_size" is 1 to
/// `kMaxPageSize` (default 10); "radius" is 1 to `kMaxRadius` metres (default 1000);
/// "location" is "lon,lat" in GCJ-02 degrees, like the answers' "geoPoint".
class RequestParsing {
 public:
  static constexpr std::size_t kMaxText = 256;
  static constexpr int kMaxPageIndex = 1000;
  static constexpr int kMaxPageSize = 50;
  static constexpr int kMaxRadius = 100000;
  /// JSON bodies nest no deeper than this.
  static constexpr int kMaxDepth = 16;

  static std::variant<TrackPointsRequest, RequestError> trackPoints(std::string_view body, const QueryItems& query);
  static std::variant<GeocodeRequest, RequestError> geocode(const QueryItems& query);
  static std::variant<PlaceSearchRequest, RequestError> placeSearch(const QueryItems& query);
  static std::variant<NearbySearchRequest, RequestError> nearbySearch(const QueryItems& query);
};

}  // namespace tovik::server
