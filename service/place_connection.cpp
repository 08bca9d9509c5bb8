#include "service/place_connection.h"

namespace tovik::service {

namespace {

constexpr std::string_view kColumns = "p.id, p.name, p.country, p.admin1, p.admin2, p.lat, p.lng, p.importance";

Place readPlace(const SqliteStatement& row) {
  Place place;
  place.id = row.columnInt64(0);
  place.name = row.columnText(1);
  place.country = row.columnText(2);
  place.admin1 = row.columnText(3);
  place.admin2 = row.columnText(4);
  place.latitude = row.columnDouble(5);
  place.longitude = row.columnDouble(6);
  place.importance = static_cast<int>(row.columnInt64(7));
  return place;
}

/// Resets the statement however the caller leaves.
class ResetOnExit {
 public:
  explicit ResetOnExit(SqliteStatement& statement) : statement_(statement) {}
  ~ResetOnExit() { statement_.reset(); }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  SqliteStatement& statement_;
};

}  // namespace

PlaceConnection::PlaceConnection(const std::string& path)
    : db_(SqliteDatabase::openImmutable(path)),
      // The bare-column min() form finds the nearest row in one pass over the R*Tree hits;
      // ORDER BY ... LIMIT 1 would build a temporary B-tree per query.
      nearest_(db_.prepare("SELECT id, min((lat - ?1) * (lat - ?1) + (lng - ?2) * (lng - ?2) * ?3) "
                           "FROM places_rtree WHERE min_lat >= ?4 AND max_lat <= ?5 AND min_lng >= ?6 "
                           "AND max_lng <= ?7")),
      byId_(db_.prepare("SELECT " + std::string(kColumns) + " FROM places p WHERE p.id = ?1")),
      inBox_(db_.prepare("SELECT " + std::string(kColumns) +
                         " FROM places_rtree r CROSS JOIN places p ON p.id = r.id "
                         "WHERE r.min_lat >= ?1 AND r.max_lat <= ?2 AND r.min_lng >= ?3 AND r.max_lng <= ?4")),
      byText_(db_.prepare("SELECT " + std::string(kColumns) +
                          " FROM places_fts f CROSS JOIN places p ON p.id = f.rowid "
                          "WHERE places_fts MATCH ?1 "
                          "AND (?2 = '' OR p.country = ?2 OR p.admin1 = ?2 OR p.admin2 = ?2) "
                          "ORDER BY bm25(places_fts, 10.0, 1.0) LIMIT ?3")) {}

std::optional<std::pair<std::int64_t, double>> PlaceConnection::nearestIn(const DegreeBox& box, double latitude,
                                                                         double longitude, double lngScale) {
  ResetOnExit reset(nearest_);
  nearest_.bind(1, latitude)
      .bind(2, longitude)
      .bind(3, lngScale * lngScale)
      .bind(4, box.south)
      .bind(5, box.north)
      .bind(6, box.west)
      .bind(7, box.east);
  if (!nearest_.step() || nearest_.isNull(0)) {
    return std::nullopt;
  }
  return std::make_pair(nearest_.columnInt64(0), nearest_.columnDouble(1));
}

std::optional<Place> PlaceConnection::place(std::int64_t id) {
  ResetOnExit reset(byId_);
  byId_.bind(1, id);
  if (!byId_.step()) {
    return std::nullopt;
  }
  return readPlace(byId_);
}

std::vector<Place> PlaceConnection::placesIn(const DegreeBox& box) {
  ResetOnExit reset(inBox_);
  inBox_.bind(1, box.south).bind(2, box.north).bind(3, box.west).bind(4, box.east);
  std::vector<Place> places;
  while (inBox_.step()) {
    places.push_back(readPlace(inBox_));
  }
  return places;
}

std::vector<Place> PlaceConnection::matching(const std::string& ftsQuery, std::string_view regionCode,
                                             std::size_t limit) {
  ResetOnExit reset(byText_);
  byText_.bind(1, ftsQuery).bind(2, regionCode).bind(3, static_cast<std::int64_t>(limit));
  std::vector<Place> places;
  while (byText_.step()) {
    places.push_back(readPlace(byText_));
  }
  return places;
}

}  // namespace tovik::service
