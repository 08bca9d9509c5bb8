#pragma once

#include <span>

#include "tovik/coord/batch_path.h"
#include "tovik/coord/region.h"
#include "tovik/system/location.h"
#include "tovik/system/export.h"

namespace tovik {

/// Datum transforms between WGS-84 (what a GPS receiver reports), GCJ-02 (the offset datum used
/// inside China) and BD-09 (a second offset on top of GCJ-02), and distances on a sphere.
/// Coordinates are (latitude, longitude) in degrees. Every operation is a pure function of its
/// arguments and may be called from any thread.
///
/// Algorithms.
/// - WGS-84 → GCJ-02: inside the rectangle longitude 72.004..137.8347 E, latitude
///   0.8293..55.8271 N (bounds and NaN count as inside) the point moves by two trigonometric
///   polynomials in (longitude − 105, latitude − 35), scaled from metres to degrees on the
///   Krasovsky ellipsoid (a = 6378245 m, e² = 0.006693421622965943); outside it is unchanged.
/// - GCJ-02 → WGS-84 has no closed form: a bisection over a box of ±0.5 degree around the target
///   stops when the forward image of the centre is within 1e-5 degree (sum of both components),
///   or after 30 halvings. A search that runs out of halvings has kept a wrong quadrant on the
///   way (about 0.4 % of points); when its point misses the tolerance, a few fixed-point steps
///   mend it. A forward-and-back round trip is therefore off by at most about 1e-5 degree away
///   from the region's edges.
/// - GCJ-02 ↔ BD-09: polar coordinates about (0, 0) with a small radius and angle perturbation
///   and a fixed shift; no region test. The two directions undo each other to a few centimetres.
/// - distanceByPoint: great-circle distance on the sphere of radius 6371004 m by the chord
///   formula.
/// - The precise inverses (…Precise) solve the forward transform by Newton's method instead of
///   searching: GCJ-02 → WGS-84 takes two Newton steps from the target with the offset's slopes
///   worked out analytically; GCJ-02 ← BD-09 iterates the polar form of the forward transform
///   from its closed-form inverse. Accuracy: inside the region, the forward transform of the
///   result is within 2e-12 degree of the input (0.1 µm, the last few bits), except within
///   30 m of longitude 105 E, where a square-root term of the offset has no slope and the error
///   reaches 1e-9 degree (0.1 mm; measured over a grid of 0.01 degree and a strip of 1e-7 degree
///   across that meridian). A point of GCJ-02 that
///   the region leaves alone (outside it) is its own preimage and comes back unchanged; a point
///   in the thin band just inside the region's edge that no point maps to (the offset jumps at
///   the edge) gets the preimage of the unclipped formulas, which lies outside.
///   BD-09 → WGS-84 chains the two, so its error is the same. Each costs less than twice the
///   forward transform it undoes, on every batch path.
/// - geodesicDistance: the shortest path on the WGS-84 ellipsoid, by GeographicLib's solution
///   of the inverse geodesic problem (Karney 2013), accurate to about 15 nanometres.
///
/// Order of operations. Every step of these formulas is one double operation in the order
/// written (no fused multiply-add, no reassociation: this folder is built with
/// -ffp-contract=off), with the C library's sin, cos, atan2, sqrt and asin. Two implementations
/// that do the same therefore agree to the last bit, apart from differences between math
/// libraries. The inverse search returns exactly the point of the plain 4-evaluations-per-step
/// bisection followed by that mend, only faster (see GcjInverseSearch).
///
/// Batches. The span overloads convert many points at once. On the `scalar` path they give
/// exactly the single-point results; the vector paths (SSE2, AVX2, AVX-512 through SLEEF) stay
/// within 1e-12 degree of them, copy points outside the region unchanged and give NaN where the
/// single-point operation gives NaN. The two inverse batches search point by point on every path.
///
/// Regions. The operations without a `Region` offset exactly the rectangle above. Those that
/// take one offset only inside that region (see Region); with Region::rectangle they are the
/// same functions to the bit. The inverse searches take the region of the forward transform
/// they undo. GCJ-02 ↔ BD-09 has no region test and so no region argument.
class TOVIK_API OrbCoorTransform {
 public:
  static Coordinate transformFromWGSToGCJ(Coordinate wgs);
  static Coordinate transformFromGCJToWGS(Coordinate gcj);
  static Coordinate transformFromGCJToBaidu(Coordinate gcj);
  static Coordinate transformFromBaiduToGCJ(Coordinate bd);
  static Coordinate transformFromWGSToBaidu(Coordinate wgs);
  static Coordinate transformFromBaiduToWGS(Coordinate bd);

  /// The same in the given region.
  static Coordinate transformFromWGSToGCJ(Coordinate wgs, Region region);
  static Coordinate transformFromGCJToWGS(Coordinate gcj, Region region);
  static Coordinate transformFromWGSToBaidu(Coordinate wgs, Region region);
  static Coordinate transformFromBaiduToWGS(Coordinate bd, Region region);

  /// The precise inverses (see above): for data converted back and forth, or when a metre
  /// matters. transformFromGCJToWGS stays the search.
  static Coordinate transformFromGCJToWGSPrecise(Coordinate gcj, Region region = Region::rectangle);
  static Coordinate transformFromBaiduToWGSPrecise(Coordinate bd, Region region = Region::rectangle);

  /// True where the WGS-84 → GCJ-02 transform of `region` moves the point `wgs`.
  static bool contains(Coordinate wgs, Region region = Region::rectangle);

  /// Distance in metres between (lat1, lng1) and (lat2, lng2), degrees. Identical points are
  /// exactly 0 apart; NaN in any argument gives NaN.
  static double distanceByPoint(double lat1, double lat2, double lng1, double lng2);
  static double distanceByPoint(Coordinate point1, Coordinate point2);

  /// Metres along the WGS-84 ellipsoid's geodesic between two WGS-84 points: 0 between
  /// identical points, NaN for a NaN coordinate or a latitude outside [-90, 90].
  static double geodesicDistance(Coordinate point1, Coordinate point2);

  /// The length of a track, metres: the sum of the distances between consecutive points, by
  /// distanceByPoint (the sphere) or geodesicDistance (the ellipsoid). Fewer than two points: 0.
  static double trackLength(std::span<const Coordinate> points);
  static double geodesicTrackLength(std::span<const Coordinate> points);

  /// Batch forms: out[i] = transform(in[i]). `in` and `out` must have the same size (otherwise
  /// nothing is written and the result is false); they may be the same span but must not overlap
  /// otherwise.
  static bool transformFromWGSToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out,
                                    BatchPath path = BatchPath::automatic);
  static bool transformFromGCJToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                    BatchPath path = BatchPath::automatic);
  static bool transformFromGCJToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out,
                                      BatchPath path = BatchPath::automatic);
  static bool transformFromBaiduToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out,
                                      BatchPath path = BatchPath::automatic);
  static bool transformFromWGSToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out,
                                      BatchPath path = BatchPath::automatic);
  static bool transformFromBaiduToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                      BatchPath path = BatchPath::automatic);

  /// Batch forms in the given region. On the vector paths the points `region` leaves alone come
  /// back bit for bit.
  static bool transformFromWGSToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out, Region region,
                                    BatchPath path = BatchPath::automatic);
  static bool transformFromGCJToWGS(std::span<const Coordinate> in, std::span<Coordinate> out, Region region,
                                    BatchPath path = BatchPath::automatic);
  static bool transformFromWGSToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out, Region region,
                                      BatchPath path = BatchPath::automatic);
  static bool transformFromBaiduToWGS(std::span<const Coordinate> in, std::span<Coordinate> out, Region region,
                                      BatchPath path = BatchPath::automatic);

  /// Batch forms of the precise inverses. The `scalar` path gives the single-point results to
  /// the bit, the vector paths stay within 1e-12 degree of them.
  static bool transformFromGCJToWGSPrecise(std::span<const Coordinate> in, std::span<Coordinate> out,
                                           Region region = Region::rectangle, BatchPath path = BatchPath::automatic);
  static bool transformFromBaiduToWGSPrecise(std::span<const Coordinate> in, std::span<Coordinate> out,
                                             Region region = Region::rectangle, BatchPath path = BatchPath::automatic);

  /// The path a batch given `requested` actually takes on this CPU and build.
  static BatchPath effectiveBatchPath(BatchPath requested);
};

}  // namespace tovik
