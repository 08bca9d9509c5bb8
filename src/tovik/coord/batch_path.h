#pragma once

namespace tovik {

/// Which code converts a batch of coordinates (see OrbCoorTransform's span overloads).
///
/// - `automatic`: the widest vector unit this CPU and this build offer.
/// - `scalar`: the single-point operations, one point after the other; bit-identical to them.
/// - `sse2`, `avx2`, `avx512`: two, four or eight points at a time with SLEEF's vector functions;
///   within 1e-12 degree of the single-point operations. A path the CPU or the build lacks falls
///   back to the next narrower one that is there, down to `scalar`.
enum class BatchPath { automatic, scalar, sse2, avx2, avx512 };

}  // namespace tovik
