#include "tovik/coord/vector_datum_batch.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "tovik/coord/datum_constants.h"
#include "tovik/coord/vector_datum_lanes.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TOVIK_X86_BATCH 1
#include <immintrin.h>
#include <sleef.h>
#else
#define TOVIK_X86_BATCH 0
#endif

#if TOVIK_X86_BATCH

namespace tovik {

// The SSE2 lanes: the lane type, its operations and the formulas. The AVX2 and AVX-512 lanes are
// in units of their own (vector_datum_lanes.h).

namespace sse2_lanes {

using V = __m128d;
using Mask = decltype(V{} < V{});
#define TOVIK_LANE_TARGET __attribute__((target("sse2")))

TOVIK_LANE_TARGET inline V vsqrt(V v) { return _mm_sqrt_pd(v); }
TOVIK_LANE_TARGET inline V vabs(V v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }
TOVIK_LANE_TARGET inline V vsin(V v) { return Sleef_sind2_u10sse2(v); }
TOVIK_LANE_TARGET inline V vcos(V v) { return Sleef_cosd2_u10sse2(v); }
TOVIK_LANE_TARGET inline V vatan2(V y, V x) { return Sleef_atan2d2_u10sse2(y, x); }
TOVIK_LANE_TARGET inline void vsincos(V v, V& sine, V& cosine) {
  const Sleef___m128d_2 both = Sleef_sincosd2_u10sse2(v);
  sine = both.x;
  cosine = both.y;
}
TOVIK_LANE_TARGET inline V select(Mask mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace sse2_lanes

namespace {

using BlockFunction = void (*)(VectorDatumBatch::Operation, const double*, const double*, double*,
                               double*);

/// Feeds the batch to `block` `lanes` points at a time; the last block is padded. Each block is
/// read completely before it is written, so `in` and `out` may be the same.
template <std::size_t lanes>
void runBlocks(BlockFunction block, VectorDatumBatch::Operation operation,
               std::span<const Coordinate> in, std::span<Coordinate> out) {
  for (std::size_t start = 0; start < in.size(); start += lanes) {
    const std::size_t count = std::min(lanes, in.size() - start);
    alignas(64) std::array<double, lanes> lat{};
    alignas(64) std::array<double, lanes> lon{};
    alignas(64) std::array<double, lanes> outLat{};
    alignas(64) std::array<double, lanes> outLon{};
    for (std::size_t i = 0; i < count; ++i) {
      lat[i] = in[start + i].latitude;
      lon[i] = in[start + i].longitude;
    }
    block(operation, lat.data(), lon.data(), outLat.data(), outLon.data());
    for (std::size_t i = 0; i < count; ++i) {
      out[start + i] = {outLat[i], outLon[i]};
    }
  }
}

struct CpuFeatures {
  bool sse2;
  bool avx2;
  bool avx512;
};

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = [] {
    __builtin_cpu_init();
    return CpuFeatures{__builtin_cpu_supports("sse2") != 0,
                       __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0,
                       __builtin_cpu_supports("avx512f") != 0};
  }();
  return features;
}

}  // namespace

BatchPath VectorDatumBatch::effectivePath(BatchPath requested) {
  const CpuFeatures& cpu = cpuFeatures();
  switch (requested) {
    case BatchPath::automatic:
    case BatchPath::avx512:
      if (cpu.avx512) {
        return BatchPath::avx512;
      }
      [[fallthrough]];
    case BatchPath::avx2:
      if (cpu.avx2) {
        return BatchPath::avx2;
      }
      [[fallthrough]];
    case BatchPath::sse2:
      if (cpu.sse2) {
        return BatchPath::sse2;
      }
      [[fallthrough]];
    case BatchPath::scalar:
      break;
  }
  return BatchPath::scalar;
}

void VectorDatumBatch::run(Operation operation, BatchPath path, std::span<const Coordinate> in,
                           std::span<Coordinate> out) {
  switch (path) {
    case BatchPath::sse2:
      runBlocks<2>(&sse2_lanes::convertBlock, operation, in, out);
      break;
    case BatchPath::avx2:
      runBlocks<4>(&vector_datum_lanes::convertAvx2Block, operation, in, out);
      break;
    case BatchPath::avx512:
      runBlocks<8>(&vector_datum_lanes::convertAvx512Block, operation, in, out);
      break;
    case BatchPath::automatic:
    case BatchPath::scalar:
      break;
  }
}

}  // namespace tovik

#else  // no vector units in this build

namespace tovik {

BatchPath VectorDatumBatch::effectivePath(BatchPath /*requested*/) {
  return BatchPath::scalar;
}

void VectorDatumBatch::run(Operation /*operation*/, BatchPath /*path*/,
                           std::span<const Coordinate> /*in*/, std::span<Coordinate> /*out*/) {}

}  // namespace tovik

#endif
