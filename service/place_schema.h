#pragma once

#include <string_view>

namespace tovik::service {

/// The layout of the places database, shared by the importer and the store.
struct PlaceSchema {
  /// Written into `meta`; the store refuses a database of another version.
  static constexpr std::string_view kVersion = "2";

  static constexpr std::string_view kCreate = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE regions(code TEXT PRIMARY KEY, level INTEGER NOT NULL, name TEXT NOT NULL, english TEXT NOT NULL);
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
)sql";
};

}  // namespace tovik::service
