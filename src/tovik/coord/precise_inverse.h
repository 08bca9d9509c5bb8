#pragma once

#include "tovik/system/location.h"

namespace tovik {

/// The precise inverses on one point: the lane formulas of datum_lane_math.inc on plain doubles
/// with the C library's sin, cos, atan2 and sqrt. OrbCoorTransform's single-point precise inverses
/// and their `scalar` batches are these; the vector batches run the same formulas on SLEEF.
/// Internal: the application uses OrbCoorTransform.
struct PreciseInverse {
  /// GCJ-02 → WGS-84 in the rectangle: a target outside it comes back unchanged.
  static Coordinate gcjToWgs(Coordinate gcj);
  /// BD-09 → GCJ-02.
  static Coordinate baiduToGcj(Coordinate bd);
};

}  // namespace tovik
