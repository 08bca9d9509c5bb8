#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace tovik::server {

/// One polygon of a country's boundary, cut to one band of latitude: every edge of its
/// rings (outer and holes alike) that reaches into the band. Whether a point of the band
/// lies inside the polygon follows from these edges alone (a ray cast eastwards crosses
/// only edges that span the point's latitude), so a query reads one small slice instead
/// of a whole coastline.
struct BoundarySlice {
  std::string country;  // ISO 3166-1 alpha-2
  std::int64_t polygon = 0;
  int band = 0;
  double west = 0.0;  // the slice's edges lie between these longitudes
  double east = 0.0;
  /// lat1, lng1, lat2, lng2 per edge, in degrees.
  std::vector<float> edges;
};

/// Natural Earth's admin-0 countries as the world-atlas package ships them (TopoJSON:
/// quantised, delta-encoded arcs; each country a Polygon or MultiPolygon whose "id" is
/// its ISO 3166-1 numeric code), cut into band slices for the database, and the
/// point-in-polygon test the service runs on a slice.
class CountryBoundaries {
 public:
  /// Height of a band in degrees of latitude.
  static constexpr double kBand = 0.5;

  struct Read {
    std::vector<BoundarySlice> slices;
    std::size_t countries = 0;
    std::size_t polygons = 0;
    /// Units without a country code of their own (disputed reefs and glaciers).
    std::vector<std::string> skipped;
  };

  /// Throws `ImportError` naming the file and the fault.
  static Read read(const std::filesystem::path& topojson);

  static int bandOf(double latitude);
  /// The even-odd rule over edges laid out as in `BoundarySlice::edges` (as the database
  /// hands them back: bytes of no particular alignment).
  static bool contains(std::span<const std::byte> edges, double latitude, double longitude);
};

}  // namespace tovik::server
