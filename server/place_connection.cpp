#include "server/place_connection.h"

#include <sqlite3.h>

#include <stdexcept>

#include "server/country_boundaries.h"
#include "server/nearest_index.h"

namespace tovik::server {

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

/// Best-first nearest-neighbour search inside the R*Tree: each node and entry is scored
/// with `NearestIndex::score` from the point to its box, and the tree visits the lowest
/// score first, so the first row it yields is the nearest place. Parameters: latitude,
/// longitude, longitude scale. Coordinates: min_lat, max_lat, min_lng, max_lng.
/// A fourth parameter, when given, is the highest score wanted: anything farther is left
/// out, subtrees included.
int scoreByDistance(sqlite3_rtree_query_info* info) {
  if (info->nParam < 3 || info->nParam > 4 || info->nCoord != 4) {
    return SQLITE_ERROR;
  }
  info->rScore = NearestIndex::score(info->aParam[0], info->aParam[1], info->aParam[2], info->aCoord);
  info->eWithin = info->nParam == 4 && info->rScore > info->aParam[3] ? NOT_WITHIN : PARTLY_WITHIN;
  return SQLITE_OK;
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

PlaceConnection::PlaceConnection(std::string_view image, const std::string& shownPath)
    : db_(registered(SqliteDatabase::openImage(image, shownPath))),
      // No ORDER BY: the tree itself yields rows nearest first, so LIMIT 1 stops at the
      // first leaf and no temporary B-tree is built.
      nearest_(db_.prepare("SELECT " + std::string(kColumns) +
                           " FROM (SELECT id FROM places_rtree WHERE id MATCH tovik_nearest(?1, ?2, ?3) LIMIT 1) r"
                           " CROSS JOIN places p ON p.id = r.id")),
      byId_(db_.prepare("SELECT " + std::string(kColumns) + " FROM places p WHERE p.id = ?1")),
      nearestIn_(db_.prepare("SELECT " + std::string(kColumns) +
                             " FROM places_rtree r CROSS JOIN places p ON p.id = r.id"
                             " WHERE r.id MATCH tovik_nearest(?1, ?2, ?3, ?5) AND p.country = ?4 LIMIT 1")),
      shapesAt_(db_.prepare("SELECT s.country, s.edges FROM country_shapes_rtree r"
                            " CROSS JOIN country_shapes s ON s.id = r.id"
                            " WHERE r.min_lat <= ?1 AND r.max_lat >= ?1 AND r.min_lng <= ?2 AND r.max_lng >= ?2"
                            " AND s.band = ?3 ORDER BY r.id")),
      inBox_(db_.prepare("SELECT " + std::string(kColumns) +
                         " FROM places_rtree r CROSS JOIN places p ON p.id = r.id "
                         "WHERE r.min_lat >= ?1 AND r.max_lat <= ?2 AND r.min_lng >= ?3 AND r.max_lng <= ?4")),
      byText_(db_.prepare("SELECT " + std::string(kColumns) +
                          " FROM places_fts f CROSS JOIN places p ON p.id = f.rowid "
                          "WHERE places_fts MATCH ?1 "
                          "AND (?2 = '' OR p.country = ?2 OR p.admin1 = ?2 OR p.admin2 = ?2) "
                          "ORDER BY bm25(places_fts, 10.0, 1.0) LIMIT ?3")) {}

SqliteDatabase PlaceConnection::registered(SqliteDatabase db) {
  if (sqlite3_rtree_query_callback(db.handle(), "tovik_nearest", scoreByDistance, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error("cannot register the nearest-place search");
  }
  return db;
}

std::optional<Place> PlaceConnection::nearest(double latitude, double longitude, double lngScale) {
  ResetOnExit reset(nearest_);
  nearest_.bind(1, latitude).bind(2, longitude).bind(3, lngScale);
  if (!nearest_.step()) {
    return std::nullopt;
  }
  return readPlace(nearest_);
}

std::optional<Place> PlaceConnection::place(std::int64_t id) {
  ResetOnExit reset(byId_);
  byId_.bind(1, id);
  if (!byId_.step()) {
    return std::nullopt;
  }
  return readPlace(byId_);
}

std::optional<Place> PlaceConnection::nearestIn(double latitude, double longitude, double lngScale,
                                                const std::string& country, double maxScore) {
  ResetOnExit reset(nearestIn_);
  nearestIn_.bind(1, latitude).bind(2, longitude).bind(3, lngScale).bind(4, country).bind(5, maxScore);
  if (!nearestIn_.step()) {
    return std::nullopt;
  }
  return readPlace(nearestIn_);
}

std::optional<std::string> PlaceConnection::countryAt(double latitude, double longitude) {
  ResetOnExit reset(shapesAt_);
  shapesAt_.bind(1, latitude).bind(2, longitude).bind(3, CountryBoundaries::bandOf(latitude));
  while (shapesAt_.step()) {
    if (CountryBoundaries::contains(shapesAt_.columnBlob(1), latitude, longitude)) {
      return shapesAt_.columnText(0);
    }
  }
  return std::nullopt;
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

}  // namespace tovik::server
