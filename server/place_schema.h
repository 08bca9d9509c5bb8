#pragma once

#include <string_view>

namespace tovik::server {

/// The layout of the places database, shared by the importer and the store.
struct PlaceSchema {
  /// Written into `meta`; the store refuses a database of another version.
  static constexpr std::string_view kVersion = "3";

  static constexpr std::string_view kCreate = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
-- code: the GeoNames code the places refer to; answer_code: the code answers carry
-- (ISO 3166-1 alpha-2, GB/T 2260 for China's provinces, else the GeoNames code).
CREATE TABLE regions(code TEXT PRIMARY KEY, level INTEGER NOT NULL, name TEXT NOT NULL, english TEXT NOT NULL,
  answer_code TEXT NOT NULL);
CREATE TABLE places(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  country TEXT NOT NULL,
  admin1 TEXT NOT NULL,
  admin2 TEXT NOT NULL,
  lat REAL NOT NULL,
  lng REAL NOT NULL,
  importance INTEGER NOT NULL);
CREATE VIRTUAL TABLE places_rtree USING rtree(id, min_lat, max_lat, min_lng, max_lng);
CREATE VIRTUAL TABLE places_fts USING fts5(name, region, content='', tokenize='unicode61 remove_diacritics 2', prefix='2 3');
-- Country boundaries cut into bands of latitude (see CountryBoundaries); the tree holds
-- each slice's box, the table its edges as float32 lat1, lng1, lat2, lng2.
CREATE TABLE country_shapes(id INTEGER PRIMARY KEY, country TEXT NOT NULL, polygon INTEGER NOT NULL,
  band INTEGER NOT NULL, edges BLOB NOT NULL);
CREATE VIRTUAL TABLE country_shapes_rtree USING rtree(id, min_lat, max_lat, min_lng, max_lng);
)sql";
};

}  // namespace tovik::server
