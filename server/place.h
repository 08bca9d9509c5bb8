#pragma once

#include <cstdint>
#include <string>

namespace tovik::server {

/// One populated place of the database. Region codes are GeoNames codes: the country
/// ("CN"), the first-level division ("CN.22") and the second-level one ("CN.22.11876380");
/// a level the data does not give is empty. Coordinates are WGS-84 degrees.
struct Place {
  std::int64_t id = 0;
  std::string name;
  std::string country;
  std::string admin1;
  std::string admin2;
  double latitude = 0.0;
  double longitude = 0.0;
  /// 3 when the place bears its first-level division's name (Beijing, Shanghai), 2 when it
  /// bears its second-level division's name (Paris, Guangzhou), 1 otherwise; ranks places
  /// that match a text equally well.
  int importance = 1;
};

/// A place with its distance from a point, in metres.
struct PlaceAtDistance {
  Place place;
  double distance = 0.0;
};

}  // namespace tovik::server
