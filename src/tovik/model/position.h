#pragma once

#include <memory>
#include <utility>

#include "tovik/model/tk_point.h"
#include "tovik/system/export.h"

namespace tovik {

/// The position block of a located result. JSON: {"point": TkPoint}.
class TOVIK_API Position {
 public:
  /// A fresh default point.
  Position();
  /// Shares `point` itself; it is not copied.
  explicit Position(std::shared_ptr<TkPoint> point) : point(std::move(point)) {}

  static std::shared_ptr<Position> create(std::shared_ptr<TkPoint> point);

  std::shared_ptr<TkPoint> point;  ///< the coordinate
};

}  // namespace tovik
