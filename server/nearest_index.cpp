#include "server/nearest_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "server/sqlite_database.h"

namespace tovik::server {

namespace {

double centreLatitude(const NearestIndex::Box& box) { return (box[0] + box[1]) / 2; }
double centreLongitude(const NearestIndex::Box& box) { return (box[2] + box[3]) / 2; }

/// Orders the items so that each run of `fanout` lies close together: slabs of longitude,
/// each ordered by latitude (sort-tile-recursive packing).
template <class Iterator>
void tile(Iterator first, Iterator last, std::size_t fanout) {
  const auto count = static_cast<std::size_t>(last - first);
  const auto groups = (count + fanout - 1) / fanout;
  const auto slabs = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(groups))));
  const auto slab = static_cast<std::ptrdiff_t>(std::max<std::size_t>(slabs * fanout, 1));
  std::sort(first, last, [](const auto& a, const auto& b) { return centreLongitude(a.box) < centreLongitude(b.box); });
  for (auto begin = first; begin < last; begin += std::min(slab, last - begin)) {
    std::sort(begin, begin + std::min(slab, last - begin),
              [](const auto& a, const auto& b) { return centreLatitude(a.box) < centreLatitude(b.box); });
  }
}

template <class Iterator>
NearestIndex::Box enclosing(Iterator first, Iterator last) {
  NearestIndex::Box box = first->box;
  for (auto it = first; it != last; ++it) {
    box[0] = std::min(box[0], it->box[0]);
    box[1] = std::max(box[1], it->box[1]);
    box[2] = std::min(box[2], it->box[2]);
    box[3] = std::max(box[3], it->box[3]);
  }
  return box;
}

}  // namespace

struct NearestIndex::Search {
  double latitude;
  double longitude;
  double lngScale;
  double best = std::numeric_limits<double>::infinity();
  std::int64_t id = 0;
  bool found = false;
  bool alone = true;
};

double NearestIndex::score(double latitude, double longitude, double lngScale, const double* box) {
  double dLat = 0.0;
  if (latitude < box[0]) {
    dLat = box[0] - latitude;
  } else if (latitude > box[1]) {
    dLat = latitude - box[1];
  }
  double dLng = 0.0;
  if (longitude < box[2] || longitude > box[3]) {
    // The shorter way round the globe to the box's nearer edge (all values lie within
    // ±180, so one turn of 360 is enough).
    double east = box[2] - longitude;
    if (east < 0.0) {
      east += 360.0;
    }
    double west = longitude - box[3];
    if (west < 0.0) {
      west += 360.0;
    }
    dLng = std::min(east, west) * lngScale;
  }
  return dLat * dLat + dLng * dLng;
}

NearestIndex NearestIndex::read(SqliteDatabase& db) {
  NearestIndex index;
  auto rows = db.prepare("SELECT id, min_lat, max_lat, min_lng, max_lng FROM places_rtree");
  while (rows.step()) {
    index.entries_.push_back(
        Entry{{rows.columnDouble(1), rows.columnDouble(2), rows.columnDouble(3), rows.columnDouble(4)},
              rows.columnInt64(0)});
  }
  index.entries_.shrink_to_fit();
  index.build();
  return index;
}

void NearestIndex::build() {
  if (entries_.empty()) {
    return;
  }
  tile(entries_.begin(), entries_.end(), kFanout);
  levels_.push_back(0);
  for (std::size_t k = 0; k < entries_.size(); k += kFanout) {
    const auto count = std::min(kFanout, entries_.size() - k);
    const auto first = entries_.begin() + static_cast<std::ptrdiff_t>(k);
    nodes_.push_back(Node{enclosing(first, first + static_cast<std::ptrdiff_t>(count)), static_cast<std::uint32_t>(k),
                          static_cast<std::uint32_t>(count)});
  }
  while (nodes_.size() - levels_.back() > 1) {
    const std::size_t begin = levels_.back();
    const std::size_t end = nodes_.size();
    tile(nodes_.begin() + static_cast<std::ptrdiff_t>(begin), nodes_.end(), kFanout);
    levels_.push_back(static_cast<std::uint32_t>(end));
    for (std::size_t k = begin; k < end; k += kFanout) {
      const auto count = std::min(kFanout, end - k);
      const auto first = nodes_.begin() + static_cast<std::ptrdiff_t>(k);
      const Box box = enclosing(first, first + static_cast<std::ptrdiff_t>(count));
      nodes_.push_back(Node{box, static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(count)});
    }
  }
}

std::optional<NearestIndex::Found> NearestIndex::nearest(double latitude, double longitude, double lngScale) const {
  if (entries_.empty()) {
    return std::nullopt;
  }
  // A coordinate that is not a number scores nothing: the database's tree answers it.
  if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(lngScale)) {
    return Found{0, false};
  }
  Search search{latitude, longitude, lngScale};
  visit(static_cast<std::uint32_t>(nodes_.size() - 1), levels_.size() - 1, search);
  return Found{search.id, search.found && search.alone};
}

void NearestIndex::visit(std::uint32_t node, std::size_t level, Search& search) const {
  const Node& parent = nodes_[node];
  if (level == 0) {
    for (std::uint32_t k = parent.first; k < parent.first + parent.count; ++k) {
      const double score = NearestIndex::score(search.latitude, search.longitude, search.lngScale,
                                               entries_[k].box.data());
      if (score < search.best) {
        search.best = score;
        search.id = entries_[k].id;
        search.found = true;
        search.alone = true;
      } else if (score == search.best) {
        search.alone = false;
      }
    }
    return;
  }
  // Children nearest first; a child scoring above the best so far holds nothing better,
  // but one scoring the same may hold a place that ties.
  std::array<std::pair<double, std::uint32_t>, kFanout> order;
  for (std::uint32_t k = 0; k < parent.count; ++k) {
    const std::uint32_t child = parent.first + k;
    order[k] = {score(search.latitude, search.longitude, search.lngScale, nodes_[child].box.data()), child};
  }
  const auto end = order.begin() + parent.count;
  std::sort(order.begin(), end, [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto it = order.begin(); it != end && !(it->first > search.best); ++it) {
    visit(it->second, level - 1, search);
  }
}

}  // namespace tovik::server
