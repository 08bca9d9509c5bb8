#pragma once

#include <memory>

#include "tovik/system/export.h"

namespace tovik {

/// The distance block of a place. The unit of `line` is the service's; the kit passes it on.
/// JSON: {"line": number}.
class TOVIK_API DistanceInfo {
 public:
  DistanceInfo() = default;
  explicit DistanceInfo(double line) : line(line) {}

  double line = 0.0;  ///< the straight-line distance
};

}  // namespace tovik
