#pragma once

#include <span>

#include "tovik/coord/batch_path.h"
#include "tovik/system/location.h"

namespace tovik {

/// The vectorised batch transforms behind OrbCoorTransform's span overloads: SSE2 (2 lanes),
/// AVX2 + FMA (4 lanes) and AVX-512F (8 lanes), with SLEEF's 1-ulp sin, cos, sincos and atan2.
///
/// Each instruction set is compiled into its own functions (AVX2 and AVX-512 in units built for
/// them, see vector_datum_lanes.h) and chosen at run time from what the CPU reports, so the
/// library runs on any x86-64 and elsewhere falls back to the scalar path. The formulas are
/// those of the single-point code, operation for operation (fused multiply-add stays off),
/// except that the WGS-84 → GCJ-02 sines come from one sincos per coordinate and each sine
/// term's constant factor is folded into one (see datum_lane_math.inc). Results stay within
/// 1e-12 degree of the single-point operations (in practice one or two ulp), points outside the
/// GCJ-02 region come back bit for bit, NaN stays NaN.
class VectorDatumBatch {
 public:
  enum class Operation {
    wgsToGcj,
    gcjToBaidu,
    baiduToGcj,
    wgsToBaidu,
    gcjToWgsPrecise,    // the precise inverses, see datum_lane_math.inc
    baiduToGcjPrecise,
    baiduToWgsPrecise,
  };

  /// The path taken for `requested`: `automatic` is the widest available, an unavailable vector
  /// path falls back to the next narrower available one, down to `scalar`.
  static BatchPath effectivePath(BatchPath requested);

  /// Converts in[i] into out[i] on `path`, which must be a vector path `effectivePath` returned.
  /// Sizes must match; `in` and `out` may be the same span.
  static void run(Operation operation, BatchPath path, std::span<const Coordinate> in,
                  std::span<Coordinate> out);
};

}  // namespace tovik
