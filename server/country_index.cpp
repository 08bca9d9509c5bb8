#include "server/country_index.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "server/country_boundaries.h"
#include "server/sqlite_database.h"

namespace tovik::server {

namespace {

constexpr int kFirstBand = -180;  // bands of latitudes -90 to 90
constexpr int kLastBand = 180;
/// How near an edge may come to a cell, in degrees, before the cell needs polygon tests:
/// far above the rounding of the crossing's arithmetic, far below any cell.
constexpr double kMargin = 1e-6;
constexpr int kRowsPerBand = 2;
static_assert(CountryBoundaries::kBand == kRowsPerBand * CountryIndex::kCell &&
              CountryIndex::kRows * CountryIndex::kCell == 180.0 && CountryIndex::kColumns * CountryIndex::kCell == 360.0);

int columnOf(double longitude) {
  return std::clamp(static_cast<int>(std::floor(longitude / CountryIndex::kCell)) + CountryIndex::kColumns / 2, 0,
                    CountryIndex::kColumns - 1);
}

double southOf(int row) { return (row - CountryIndex::kRows / 2) * CountryIndex::kCell; }

/// Marks the cells of a row from one longitude to another, and those the margin reaches.
void markSpan(std::vector<bool>& border, double west, double east) {
  for (int column = columnOf(west - kMargin); column <= columnOf(east + kMargin); ++column) {
    border[static_cast<std::size_t>(column)] = true;
  }
}

}  // namespace

CountryIndex CountryIndex::read(SqliteDatabase& db) {
  CountryIndex index;
  std::map<std::string, std::uint32_t> known;
  auto size = db.prepare("SELECT total(length(edges)) FROM country_shapes");
  if (size.step()) {
    index.edges_.reserve(static_cast<std::size_t>(size.columnDouble(0)) / sizeof(float));
  }
  auto rows = db.prepare(
      "SELECT s.country, s.band, s.edges, r.min_lat, r.max_lat, r.min_lng, r.max_lng FROM country_shapes_rtree r"
      " CROSS JOIN country_shapes s ON s.id = r.id ORDER BY r.id");
  while (rows.step()) {
    Slice slice;
    const auto [it, fresh] = known.try_emplace(rows.columnText(0), static_cast<std::uint32_t>(index.countries_.size()));
    if (fresh) {
      index.countries_.push_back(it->first);
    }
    slice.country = it->second;
    slice.band = static_cast<int>(rows.columnInt64(1));
    const auto edges = rows.columnBlob(2);
    constexpr std::size_t kEdgeBytes = 4 * sizeof(float);
    slice.firstEdge = index.edges_.size() / 4;
    slice.edgeCount = edges.size() / kEdgeBytes;
    index.edges_.resize(index.edges_.size() + slice.edgeCount * 4);
    std::copy_n(edges.data(), slice.edgeCount * kEdgeBytes,
                reinterpret_cast<std::byte*>(index.edges_.data() + slice.firstEdge * 4));
    for (int k = 0; k < 4; ++k) {
      slice.box[k] = rows.columnDouble(3 + k);
    }
    index.slices_.push_back(slice);
  }
  index.classify();
  return index;
}

const std::string* CountryIndex::countryAt(double latitude, double longitude) const {
  if (!std::isfinite(latitude) || !std::isfinite(longitude)) {
    return nullptr;
  }
  const double row = std::floor(latitude / kCell) + kRows / 2;
  const double column = std::floor(longitude / kCell) + kColumns / 2;
  if (row >= 0 && row < kRows && column >= 0 && column < kColumns) {
    const auto cell = cells_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)];
    if ((cell & kBorder) == 0) {
      return cell == 0 ? nullptr : &countries_[cell - 1];
    }
    const auto list = cell & ~kBorder;
    return firstHolding(std::span(candidates_).subspan(borderLists_[list], borderLists_[list + 1] - borderLists_[list]),
                        latitude, longitude);
  }
  // Off the grid: the band's slices, as the database would read them.
  if (std::fabs(latitude) > 90.0) {
    return nullptr;
  }
  const int band = CountryBoundaries::bandOf(latitude) - kFirstBand;
  return firstHolding(std::span(byBand_).subspan(bandStart_[band], bandStart_[band + 1] - bandStart_[band]), latitude,
                      longitude);
}

const std::string* CountryIndex::firstHolding(std::span<const std::uint32_t> slices, double latitude,
                                              double longitude) const {
  for (const auto k : slices) {
    const Slice& slice = slices_[k];
    if (slice.box[0] <= latitude && slice.box[1] >= latitude && slice.box[2] <= longitude &&
        slice.box[3] >= longitude &&
        CountryBoundaries::contains(std::as_bytes(std::span(edges_).subspan(slice.firstEdge * 4, slice.edgeCount * 4)),
                                    latitude, longitude)) {
      return &countries_[slice.country];
    }
  }
  return nullptr;
}

void CountryIndex::markEdges(const Slice& slice, int row, std::vector<bool>& border) const {
  const double south = southOf(row) - kMargin;
  const double north = southOf(row) + kCell + kMargin;
  for (std::size_t e = slice.firstEdge; e < slice.firstEdge + slice.edgeCount; ++e) {
    const double lat1 = edges_[4 * e], lng1 = edges_[4 * e + 1], lat2 = edges_[4 * e + 2], lng2 = edges_[4 * e + 3];
    if (std::max(lat1, lat2) < south || std::min(lat1, lat2) > north) {
      continue;
    }
    // The edge's longitudes within the row (stored edges never run along a parallel).
    const auto at = [&](double latitude) {
      const double t = std::clamp((latitude - lat1) / (lat2 - lat1), 0.0, 1.0);
      return lng1 + t * (lng2 - lng1);
    };
    markSpan(border, std::min(at(south), at(north)), std::max(at(south), at(north)));
  }
}

std::vector<std::pair<float, float>> CountryIndex::runEnds(const Slice& slice) const {
  // The edges along a parallel were left out of the slices, since the even-odd count never
  // counts them; but the count still changes across them from one latitude to the next.
  // Where they lie follows from the stored edges: a vertex met by an odd number of them
  // ends such a run (every vertex of a closed ring meets an even number of edges).
  std::vector<std::pair<float, float>> ends;
  ends.reserve(2 * slice.edgeCount);
  for (std::size_t e = slice.firstEdge; e < slice.firstEdge + slice.edgeCount; ++e) {
    ends.emplace_back(edges_[4 * e], edges_[4 * e + 1]);
    ends.emplace_back(edges_[4 * e + 2], edges_[4 * e + 3]);
  }
  std::sort(ends.begin(), ends.end());
  std::vector<std::pair<float, float>> odd;
  for (std::size_t k = 0; k < ends.size();) {
    std::size_t next = k;
    while (next < ends.size() && ends[next] == ends[k]) {
      ++next;
    }
    if ((next - k) % 2 == 1) {
      odd.push_back(ends[k]);
    }
    k = next;
  }
  return odd;
}

void CountryIndex::markRuns(std::span<const std::pair<float, float>> ends, int row, std::vector<bool>& border) {
  // Along one parallel, the count of a point just north of it differs from that of a point
  // just south where an odd number of the runs' ends lie east of them (the ray goes east):
  // from the first end to the second, the third to the fourth... (a ring across the
  // antimeridian runs from 180 to -180); with an odd number of ends (a ring that does not
  // close), from -180 to the first, the second to the third... A run on the row's southern
  // line changes nothing inside the row: the count changes between the latitudes below it
  // and those at it or above.
  const double south = southOf(row);
  for (std::size_t k = 0; k < ends.size();) {
    std::size_t next = k;
    while (next < ends.size() && ends[next].first == ends[k].first) {
      ++next;
    }
    const double latitude = ends[k].first;
    if (latitude > south && latitude < south + kCell) {
      std::size_t end = k;
      if ((next - k) % 2 == 1) {
        markSpan(border, -180.0, ends[end++].second);
      }
      for (; end + 1 < next; end += 2) {
        markSpan(border, ends[end].second, ends[end + 1].second);
      }
    }
    k = next;
  }
}

void CountryIndex::reachInto(std::uint32_t index, int row, std::vector<bool>& border,
                             std::vector<std::vector<std::uint32_t>>& reaching) const {
  const Slice& slice = slices_[index];
  const double south = southOf(row);
  const double north = south + kCell;
  if (slice.box[0] > north || slice.box[1] < south) {
    return;
  }
  const bool wholeRow = slice.box[0] <= south && slice.box[1] >= north;
  for (int column = columnOf(slice.box[2]); column <= columnOf(slice.box[3]); ++column) {
    const double west = (column - kColumns / 2) * kCell;
    reaching[static_cast<std::size_t>(column)].push_back(index);
    // A box that cuts through the cell holds some of its points and not others.
    if (!wholeRow || slice.box[2] > west || slice.box[3] < west + kCell) {
      border[static_cast<std::size_t>(column)] = true;
    }
  }
}

void CountryIndex::indexBands() {
  bandStart_.assign(kLastBand - kFirstBand + 2, 0);
  for (const auto& slice : slices_) {
    if (slice.band >= kFirstBand && slice.band <= kLastBand) {
      ++bandStart_[slice.band - kFirstBand + 1];
    }
  }
  for (std::size_t k = 1; k < bandStart_.size(); ++k) {
    bandStart_[k] += bandStart_[k - 1];
  }
  byBand_.resize(bandStart_.back());
  auto next = bandStart_;
  for (std::uint32_t k = 0; k < slices_.size(); ++k) {
    if (slices_[k].band >= kFirstBand && slices_[k].band <= kLastBand) {
      byBand_[next[slices_[k].band - kFirstBand]++] = k;
    }
  }
}

void CountryIndex::classify() {
  indexBands();
  std::vector<std::vector<std::pair<float, float>>> runs(slices_.size());
  for (std::size_t k = 0; k < slices_.size(); ++k) {
    runs[k] = runEnds(slices_[k]);
  }
  cells_.assign(kCells, 0);
  // One row at a time: its cells the even-odd count may change in, and the slices whose
  // box reaches into each cell (in id order).
  std::vector<bool> border(kColumns);
  std::vector<std::vector<std::uint32_t>> reaching(kColumns);
  for (int row = 0; row < kRows; ++row) {
    std::fill(border.begin(), border.end(), false);
    for (auto& slices : reaching) {
      slices.clear();
    }
    const int band = static_cast<int>(std::floor(southOf(row) / CountryBoundaries::kBand)) - kFirstBand;
    for (std::uint32_t k = bandStart_[band]; k < bandStart_[band + 1]; ++k) {
      const std::uint32_t slice = byBand_[k];
      reachInto(slice, row, border, reaching);
      markEdges(slices_[slice], row, border);
      markRuns(runs[slice], row, border);
    }
    for (int column = 0; column < kColumns; ++column) {
      const auto& slices = reaching[static_cast<std::size_t>(column)];
      auto& cell = cells_[static_cast<std::size_t>(row) * kColumns + static_cast<std::size_t>(column)];
      if (slices.empty()) {
        continue;  // no box reaches in: at sea
      }
      if (border[static_cast<std::size_t>(column)]) {
        cell = kBorder | static_cast<std::uint32_t>(borderLists_.size() - 1);
        candidates_.insert(candidates_.end(), slices.begin(), slices.end());
        borderLists_.push_back(static_cast<std::uint32_t>(candidates_.size()));
        continue;
      }
      const std::string* country =
          firstHolding(slices, southOf(row) + kCell / 2, (column - kColumns / 2 + 0.5) * kCell);
      cell = country == nullptr ? 0 : static_cast<std::uint32_t>(country - countries_.data()) + 1;
    }
  }
}

}  // namespace tovik::server
