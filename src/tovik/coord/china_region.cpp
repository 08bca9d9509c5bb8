#include "tovik/coord/china_region.h"

#include <bit>
#include <cstdint>

// The generated table (scripts/make-china-region); it describes its own layout.
#include "tovik/coord/china_region_table.inc"

namespace tovik {

namespace {

namespace table = china_region_table;

constexpr double frameWidth = static_cast<double>(table::columns * table::cellWidth);
constexpr double frameHeight = static_cast<double>(table::rows * table::cellHeight);
constexpr std::uint32_t subWidth = table::cellWidth / table::subCells;
constexpr std::uint32_t subHeight = table::cellHeight / table::subCells;

/// (b − a) × (p − a): positive when p lies left of a → b.
inline double orient(double au, double av, double bu, double bv, double pu, double pv) {
  return (bu - au) * (pv - av) - (bv - av) * (pu - au);
}

/// A point (u, v) of border cell `index`, whose lower-left corner is (cellU, cellV).
[[gnu::noinline]] bool containsInBorderCell(std::uint32_t index, std::uint32_t ui, std::uint32_t vi, double u,
                                            double v) {
  const std::uint32_t sub = ((vi % table::cellHeight) / subHeight) * table::subCells + (ui % table::cellWidth) / subWidth;
  if ((table::seaMasks[index] >> sub) & 1u) {
    return true;
  }
  const std::uint32_t entry = table::cellRuns[index];
  const double* offset = table::referenceOffsets[(entry >> 1) & 3u];
  const double ru = static_cast<double>(ui - ui % table::cellWidth) + offset[0];
  const double rv = static_cast<double>(vi - vi % table::cellHeight) + offset[1];
  // The reference point's side, flipped at every edge the segment from it to (u, v) crosses. A
  // zero orientation counts as positive throughout: a vertex on the segment's line is then on
  // the same side for both of its edges, so the crossings still count right.
  bool inside = (entry & 1u) != 0;
  const std::uint32_t end = table::cellRuns[index + 1] >> 3;
  for (std::uint32_t k = entry >> 3; k < end; ++k) {
    const table::Run run = table::runs[k];
    for (std::uint32_t e = run.firstVertex; e < run.firstVertex + run.edges; ++e) {
      const double au = table::vertices[e].u;
      const double av = table::vertices[e].v;
      const double bu = table::vertices[e + 1].u;
      const double bv = table::vertices[e + 1].v;
      if ((orient(au, av, bu, bv, ru, rv) < 0.0) != (orient(au, av, bu, bv, u, v) < 0.0) &&
          (orient(ru, rv, u, v, au, av) < 0.0) != (orient(ru, rv, u, v, bu, bv) < 0.0)) {
        inside = !inside;
      }
    }
  }
  return inside;
}

}  // namespace

bool ChinaRegion::contains(double latitude, double longitude) {
  const double u = (longitude - table::originLongitude) * table::unitsPerDegreeLongitude;
  const double v = (latitude - table::originLatitude) * table::unitsPerDegreeLatitude;
  if (!(u >= 0.0 && u < frameWidth && v >= 0.0 && v < frameHeight)) {
    return false;  // beyond the table, or NaN
  }
  const auto ui = static_cast<std::uint32_t>(u);
  const auto vi = static_cast<std::uint32_t>(v);
  const std::uint32_t cell = (vi / table::cellHeight) * table::columns + ui / table::cellWidth;
  const std::uint64_t border = table::borderCells[cell / 64];
  const std::uint64_t bit = std::uint64_t{1} << (cell % 64);
  if ((border & bit) == 0) {
    return (table::insideCells[cell / 64] & bit) != 0;
  }
  const auto index = static_cast<std::uint32_t>(table::borderRank[cell / 64] + std::popcount(border & (bit - 1)));
  return containsInBorderCell(index, ui, vi, u, v);
}

}  // namespace tovik
