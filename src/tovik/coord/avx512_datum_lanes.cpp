// Built with -mavx512f (src/CMakeLists.txt); see vector_datum_lanes.h.
#include "tovik/coord/vector_datum_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#if !defined(__AVX512F__)
#error "this unit must be built with -mavx512f"
#endif

#include <immintrin.h>
#include <sleef.h>

#include <cstring>

#include "tovik/coord/datum_constants.h"

namespace tovik::vector_datum_lanes {
namespace {

using V = __m512d;
using Mask = decltype(V{} < V{});
#define TOVIK_LANE_TARGET __attribute__((target("avx512f")))

// The masked form: GCC 12's _mm512_sqrt_pd starts from an undefined vector and warns about it.
TOVIK_LANE_TARGET inline V vsqrt(V v) { return _mm512_mask_sqrt_pd(v, 0xFF, v); }
TOVIK_LANE_TARGET inline V vabs(V v) { return _mm512_abs_pd(v); }
TOVIK_LANE_TARGET inline V vsin(V v) { return Sleef_sind8_u10avx512f(v); }
TOVIK_LANE_TARGET inline V vcos(V v) { return Sleef_cosd8_u10avx512f(v); }
TOVIK_LANE_TARGET inline V vatan2(V y, V x) { return Sleef_atan2d8_u10avx512f(y, x); }
TOVIK_LANE_TARGET inline void vsincos(V v, V& sine, V& cosine) {
  const Sleef___m512d_2 both = Sleef_sincosd8_u10avx512f(v);
  sine = both.x;
  cosine = both.y;
}
TOVIK_LANE_TARGET inline V select(Mask mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace

void convertAvx512Block(VectorDatumBatch::Operation operation, const double* lat, const double* lon, double* outLat,
                        double* outLon) {
  convertBlock(operation, lat, lon, outLat, outLon);
}

}  // namespace tovik::vector_datum_lanes

#endif
