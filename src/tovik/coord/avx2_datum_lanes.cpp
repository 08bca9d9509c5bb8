// Built with -mavx2 -mfma (src/CMakeLists.txt); see vector_datum_lanes.h.
#include "tovik/coord/vector_datum_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#if !defined(__AVX2__) || !defined(__FMA__)
#error "this unit must be built with -mavx2 -mfma"
#endif

#include <immintrin.h>
#include <sleef.h>

#include <cstring>

#include "tovik/coord/datum_constants.h"

namespace tovik::vector_datum_lanes {
namespace {

using V = __m256d;
using Mask = decltype(V{} < V{});
#define TOVIK_LANE_TARGET __attribute__((target("avx2,fma")))

TOVIK_LANE_TARGET inline V vsqrt(V v) { return _mm256_sqrt_pd(v); }
TOVIK_LANE_TARGET inline V vabs(V v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }
TOVIK_LANE_TARGET inline V vsin(V v) { return Sleef_sind4_u10avx2(v); }
TOVIK_LANE_TARGET inline V vcos(V v) { return Sleef_cosd4_u10avx2(v); }
TOVIK_LANE_TARGET inline V vatan2(V y, V x) { return Sleef_atan2d4_u10avx2(y, x); }
TOVIK_LANE_TARGET inline void vsincos(V v, V& sine, V& cosine) {
  const Sleef___m256d_2 both = Sleef_sincosd4_u10avx2(v);
  sine = both.x;
  cosine = both.y;
}
TOVIK_LANE_TARGET inline V select(Mask mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace

void convertAvx2Block(VectorDatumBatch::Operation operation, const double* lat, const double* lon, double* outLat,
                      double* outLon) {
  convertBlock(operation, lat, lon, outLat, outLon);
}

}  // namespace tovik::vector_datum_lanes

#endif
