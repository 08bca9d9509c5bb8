#include <cstddef>
#include <cstdint>

#include "straightforward_transform.h"
#include "tovik/coord/china_region_table.inc"

namespace tovik::bench {

bool StraightforwardTransform::insideChinaLand(Coordinate wgs) {
  namespace table = china_region_table;
  const double u = (wgs.longitude - table::originLongitude) * table::unitsPerDegreeLongitude;
  const double v = (wgs.latitude - table::originLatitude) * table::unitsPerDegreeLatitude;
  bool inside = false;
  // The rings follow one another, each closed by repeating its first vertex.
  std::size_t ringStart = 0;
  for (std::size_t i = 1; i < std::size(table::vertices); ++i) {
    const table::Vertex a = table::vertices[i - 1];
    const table::Vertex b = table::vertices[i];
    const double au = a.u;
    const double av = a.v;
    const double bu = b.u;
    const double bv = b.v;
    if ((av > v) != (bv > v) && u < au + (v - av) * (bu - au) / (bv - av)) {
      inside = !inside;
    }
    if (b.u == table::vertices[ringStart].u && b.v == table::vertices[ringStart].v) {
      ringStart = ++i;  // the next ring begins after this closing vertex
    }
  }
  return inside;
}

}  // namespace tovik::bench
