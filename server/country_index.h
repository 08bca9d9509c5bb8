#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tovik::server {

class SqliteDatabase;

/// Which country's boundary holds a point, answered from memory with the same rule as the
/// database's query (the slices of the point's band whose box holds it, in id order; the
/// first whose edges hold the point by `CountryBoundaries::contains`).
///
/// A grid of cells of a quarter degree, each inside one band, settles most points with no
/// polygon test: a cell that no edge comes near (neither a stored one nor a run along a
/// parallel, which the slices leave out) and no slice's box cuts through answers every
/// point in it as its centre is answered (the even-odd count changes only across an edge),
/// and that answer is kept. The other cells keep the slices whose box reaches into them,
/// and a point there is tested against those alone.
class CountryIndex {
 public:
  /// Reads `country_shapes` and its tree and classifies the cells.
  static CountryIndex read(SqliteDatabase& db);

  /// The alpha-2 code, or null at sea.
  const std::string* countryAt(double latitude, double longitude) const;

  /// The grid: cells of `kCell` degrees, a power of two, so that a point's cell and band
  /// follow from exact divisions and agree.
  static constexpr double kCell = 0.25;
  static constexpr int kRows = 720;
  static constexpr int kColumns = 1440;
  static constexpr std::size_t kCells = std::size_t{kRows} * kColumns;

  /// Cells that need polygon tests (for the tests: a grid of border cells alone would
  /// answer rightly and slowly).
  std::size_t borderCells() const { return borderLists_.size() - 1; }

 private:
  /// A cell's value: the country's index + 1, 0 for none, or this bit and the index of the
  /// cell's list of slices.
  static constexpr std::uint32_t kBorder = 0x80000000U;

  struct Slice {
    std::uint32_t country = 0;
    int band = 0;
    double box[4] = {};  // min_lat, max_lat, min_lng, max_lng, as the tree holds them
    std::size_t firstEdge = 0;
    std::size_t edgeCount = 0;  // four floats each
  };

  /// The first of `slices` (indices, in id order) whose box and edges hold the point.
  const std::string* firstHolding(std::span<const std::uint32_t> slices, double latitude, double longitude) const;
  /// Fills `cells_` and the border cells' lists, a row at a time.
  void classify();
  void indexBands();
  /// Notes the slice in the list of each cell of the row its box reaches into, and marks
  /// the cells the box cuts through.
  void reachInto(std::uint32_t index, int row, std::vector<bool>& border,
                 std::vector<std::vector<std::uint32_t>>& reaching) const;
  /// Marks the cells of the row the slice's edges come near.
  void markEdges(const Slice& slice, int row, std::vector<bool>& border) const;
  /// The ends of the slice's runs along a parallel, which it does not store, by latitude.
  std::vector<std::pair<float, float>> runEnds(const Slice& slice) const;
  /// Marks the cells of the row those runs cross.
  static void markRuns(std::span<const std::pair<float, float>> ends, int row, std::vector<bool>& border);

  std::vector<std::string> countries_;
  std::vector<Slice> slices_;
  std::vector<float> edges_;
  /// Slice indices by band, for points off the grid (latitude 90, longitude 180).
  std::vector<std::uint32_t> byBand_;
  std::vector<std::uint32_t> bandStart_;
  std::vector<std::uint32_t> cells_;
  /// Border cells' lists: list k is candidates_[borderLists_[k], borderLists_[k + 1]).
  std::vector<std::uint32_t> candidates_;
  std::vector<std::uint32_t> borderLists_{0};
};

}  // namespace tovik::server
