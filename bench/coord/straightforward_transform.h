#pragma once

#include "tovik/system/location.h"

namespace tovik::bench {

/// The datum formulas written the plain way, one function per formula and every sine computed
/// where it appears, and the inverse search with four forward transforms per step (and the same
/// mend of a search that ran out of steps off target): the yardstick for OrbCoorTransform in the
/// same run.
struct StraightforwardTransform {
  static Coordinate wgsToGcj(Coordinate wgs);
  static Coordinate gcjToWgs(Coordinate gcj);
  static Coordinate gcjToBaidu(Coordinate gcj);
  static double distance(double lat1, double lat2, double lng1, double lng2);
  /// Even-odd test of the point against every edge of the precise region's land boundary (the
  /// same rings, without the sea band): the yardstick for its grid.
  static bool insideChinaLand(Coordinate wgs);
};

}  // namespace tovik::bench
