#pragma once

#include "tovik/coord/gcj_image_estimate.h"
#include "tovik/coord/region.h"
#include "tovik/system/location.h"

namespace tovik {

/// GCJ-02 → WGS-84 by bisection, returning exactly the point of the plain search:
///
///   box m = (lon − 0.5, lat − 0.5), M = (lon + 0.5, lat + 0.5); up to 30 times: take the
///   forward images FLL, FLR, FUL of three corners and D of the centre; stop at the centre when
///   D is within 1e-5 of the target; else keep the first quadrant (lower left, lower right,
///   upper left, else upper right) whose corner image and D bound the target; at the end return
///   the centre of the last box,
///
/// with one mend on that last exit. The quadrant test can keep a quadrant that does not hold the
/// answer (about 0.4 % of points inside the region); the search then ends on a wrong point
/// without ever meeting its tolerance. When the last centre's image misses the target by more
/// than the tolerance, a few fixed-point steps w ← w − (f(w) − target) from the target look for
/// a closer point, which is returned instead if it is closer. Every search that meets its
/// tolerance returns the plain search's point unchanged.
///
/// The plain search spends four forward transforms per step. The answer is the last box centre,
/// which depends only on the sequence of decisions, never directly on the images, so this one:
/// - takes each image from GcjImageEstimate: the trigonometry is done once per new longitude
///   and latitude (one of each per step), not once per point, and after the first step by
///   turning the previous centre's angles instead of calling sincos;
/// - evaluates a corner only when a decision needs it, and keeps the images a quadrant shares
///   with its parent (lower right keeps FLR and gets D as its upper left corner; upper left keeps
///   FUL and gets D as lower right; lower left keeps FLL; upper right gets D as lower left);
/// - accepts a decision from the estimates only when every comparison it rests on clears its
///   threshold by more than `margin` degrees (more than the estimate's error). Otherwise that
///   step is decided again from exact forward transforms, as the plain search would.
/// Every decision is therefore the plain search's decision, and so is the answer, to the bit
/// (the mend works on exact forward transforms).
class GcjInverseSearch {
 public:
  static constexpr double defaultMargin = 1e-10;
  static_assert(defaultMargin > GcjImageEstimate::maxError);

  /// `margin` must exceed GcjImageEstimate::maxError; a larger margin only sends more steps to
  /// the exact transforms (tests use that to exercise them). `region` is that of the forward
  /// transform the search undoes.
  explicit GcjInverseSearch(double margin = defaultMargin, Region region = Region::rectangle)
      : margin_(margin), region_(region) {}

  Coordinate run(Coordinate gcj) const;

 private:
  double margin_;
  Region region_;
};

}  // namespace tovik
