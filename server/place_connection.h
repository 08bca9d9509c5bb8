#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/place.h"
#include "server/sqlite_database.h"

namespace tovik::server {

/// A latitude/longitude box in degrees, south to north and west to east (no wrap).
struct DegreeBox {
  double south = 0.0;
  double north = 0.0;
  double west = 0.0;
  double east = 0.0;
};

/// One read-only connection to the places database with its prepared queries. Used by one
/// thread at a time (the store lends it out).
class PlaceConnection {
 public:
  /// A connection to a database image in memory (see `SqliteDatabase::openImage`).
  PlaceConnection(std::string_view image, const std::string& shownPath);

  /// The place nearest to (`latitude`, `longitude`) in the local flat metric, where a
  /// degree of longitude counts `lngScale` of a degree of latitude (across the
  /// antimeridian too). Nothing only when there is no place at all.
  std::optional<Place> nearest(double latitude, double longitude, double lngScale);
  /// The place with this id, if there is one.
  std::optional<Place> place(std::int64_t id);
  /// The same, among the places of one country only, and only as far as `maxScore` (the
  /// squared distance in that flat metric, in degrees²), so that a country with no place
  /// near the point does not walk the whole tree.
  std::optional<Place> nearestIn(double latitude, double longitude, double lngScale, const std::string& country,
                                 double maxScore);
  /// The alpha-2 code of the country whose boundary holds the point, or nothing (at sea,
  /// or a database without boundaries).
  std::optional<std::string> countryAt(double latitude, double longitude);
  /// Every place in `box`, unordered.
  std::vector<Place> placesIn(const DegreeBox& box);
  /// Places whose text matches the FTS5 query, best text rank first, optionally only those
  /// in the region with GeoNames code `regionCode` (country, division or subdivision).
  std::vector<Place> matching(const std::string& ftsQuery, std::string_view regionCode, std::size_t limit);

  SqliteDatabase& database() { return db_; }

 private:
  /// Adds the nearest-place scoring to a new connection.
  static SqliteDatabase registered(SqliteDatabase db);

  SqliteDatabase db_;
  SqliteStatement nearest_;
  SqliteStatement byId_;
  SqliteStatement nearestIn_;
  SqliteStatement shapesAt_;
  SqliteStatement inBox_;
  SqliteStatement byText_;
};

}  // namespace tovik::server
