#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovik::server {

class SqliteDatabase;

/// The places tree's entries (each place's box, its bounds rounded outwards to single
/// precision as the tree stores them), packed into a tree of its own in memory
/// (sort-tile-recursive, 16 children a node) and searched branch and bound with the very
/// score the database's tree uses. The place with the lowest score is therefore the one
/// the database's search yields first; only when two places share that score would the
/// database's own visiting order decide, and then this index says so instead of guessing.
/// A search scores about a hundred boxes, where the database's tree scores every cell of
/// each page it reads (up to 170) and reads each page through its own statements.
class NearestIndex {
 public:
  /// Bounds in degrees: min_lat, max_lat, min_lng, max_lng (the tree's column order).
  using Box = std::array<double, 4>;

  /// The squared distance in the local flat metric from a point to a box, where a degree
  /// of longitude counts `lngScale` of a degree of latitude, the shorter way round the globe.
  /// Lower for a box than for any box inside it, so it bounds a subtree from below.
  static double score(double latitude, double longitude, double lngScale, const double* box);

  struct Found {
    std::int64_t id = 0;
    /// False when another place has the same lowest score.
    bool alone = true;
  };

  /// Reads the entries of `places_rtree`.
  static NearestIndex read(SqliteDatabase& db);
  /// Nothing only when there is no place at all.
  std::optional<Found> nearest(double latitude, double longitude, double lngScale) const;

  std::size_t size() const { return entries_.size(); }

 private:
  static constexpr std::size_t kFanout = 16;

  struct Entry {
    Box box;
    std::int64_t id = 0;
  };
  struct Node {
    Box box;
    std::uint32_t first = 0;  // children: entries for a node of the lowest level, else nodes
    std::uint32_t count = 0;
  };
  struct Search;

  void build();
  void visit(std::uint32_t node, std::size_t level, Search& search) const;

  std::vector<Entry> entries_;
  std::vector<Node> nodes_;
  /// Where each level begins in `nodes_`, the lowest first; the root is the last node.
  std::vector<std::uint32_t> levels_;
};

}  // namespace tovik::server
