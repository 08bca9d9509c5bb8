#include "tovik/coord/precise_inverse.h"

#include <cmath>
#include <cstring>

#include "tovik/coord/datum_constants.h"
#include "tovik/coord/vector_datum_batch.h"

namespace tovik {

// The lane formulas on one double.
namespace scalar_lanes {

using V = double;
#define TOVIK_LANE_TARGET

inline V vsqrt(V v) { return std::sqrt(v); }
inline V vabs(V v) { return std::fabs(v); }
inline V vsin(V v) { return std::sin(v); }
inline V vcos(V v) { return std::cos(v); }
inline V vatan2(V y, V x) { return std::atan2(y, x); }
inline void vsincos(V v, V& sine, V& cosine) {
  sine = std::sin(v);
  cosine = std::cos(v);
}
inline V select(bool mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace scalar_lanes

Coordinate PreciseInverse::gcjToWgs(Coordinate gcj) {
  Coordinate wgs{};
  scalar_lanes::gcjToWgsPrecise(gcj.latitude, gcj.longitude, wgs.latitude, wgs.longitude);
  return wgs;
}

Coordinate PreciseInverse::baiduToGcj(Coordinate bd) {
  Coordinate gcj{};
  scalar_lanes::baiduToGcjPrecise(bd.latitude, bd.longitude, gcj.latitude, gcj.longitude);
  return gcj;
}

}  // namespace tovik
