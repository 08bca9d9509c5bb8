#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tovik/geofence/fence_shape.h"

namespace tovik {

/// The fences of one datum by their boxes: an R-tree (Boost.Geometry, R* splits), so that a fix
/// finds the few fences whose box holds it in logarithmic time, whatever their number.
class FenceIndex {
 public:
  FenceIndex();
  ~FenceIndex();
  FenceIndex(const FenceIndex&) = delete;
  FenceIndex& operator=(const FenceIndex&) = delete;

  void insert(const FenceShape::Box& box, std::uint32_t slot);
  /// Removes the entry made with the same box and slot.
  void remove(const FenceShape::Box& box, std::uint32_t slot);
  void clear();
  bool empty() const;
  /// Appends to `slots` those of the boxes that hold `point`.
  void query(Coordinate point, std::vector<std::uint32_t>& slots) const;

 private:
  struct Tree;
  std::unique_ptr<Tree> tree_;
};

}  // namespace tovik
