#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tovik/coord/datum.h"

namespace tovik::server {

/// Query items as the HTTP server decodes them (name → value, names may repeat).
using QueryItems = std::multimap<std::string, std::string>;

/// The datums a coordinate may be given or answered in.
using tovik::Datum;

/// Why a request cannot be answered: the offending field (a query item name, a dotted JSON
/// path in the body, or "body") and a message for the client. Always a 400 answer.
struct RequestError {
  std::string field;
  std::string message;
};

/// A call on the track-points path, from either body shape.
struct TrackPointsRequest {
  /// True for a fused-location body (`TrackRequest`), false for a reverse-geocoding one.
  bool isTrack = true;
  std::string id;
  std::string asset;
  double latitude = 0.0;
  double longitude = 0.0;
  /// The datum of the point: WGS-84 for a fix, the body's `spatialReference` otherwise.
  Datum datum = Datum::wgs84;
  Datum responseDatum = Datum::gcj02;
  /// The "needAddress" item when it was sent.
  std::optional<bool> needAddress;
};

struct GeocodeRequest {
  std::vector<std::string> words;
  std::string city;
};

struct PlaceSearchRequest {
  std::vector<std::string> words;
  std::string city;
  std::string cityCode;
  int pageIndex = 1;
  int pageSize = 10;
};

struct NearbySearchRequest {
  /// Empty: every place in the radius.
  std::vector<std::string> words;
  /// GCJ-02, as the client gave it.
  double latitude = 0.0;
  double longitude = 0.0;
  int radius = 1000;
  std::string category;
  bool orderByRelevance = false;
  int pageIndex = 1;
  int pageSize = 10;
};

}  // namespace tovik::server
