#include "tovik/coord/gcj_inverse_search.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "tovik/coord/datum_constants.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik {

namespace {

using K = DatumConstants;
using Column = GcjImageEstimate::Column;
using Row = GcjImageEstimate::Row;

enum class Decision { lowerLeft, lowerRight, upperLeft, upperRight, done };
enum class Verdict { no, yes, unsure };

/// The plain search's quadrant test: the target lies between the centre image and the corner
/// image in both components, bounds included.
bool bounds(Coordinate centre, Coordinate corner, Coordinate target) {
  return std::min(centre.latitude, corner.latitude) <= target.latitude &&
         target.latitude <= std::max(centre.latitude, corner.latitude) &&
         std::min(centre.longitude, corner.longitude) <= target.longitude &&
         target.longitude <= std::max(centre.longitude, corner.longitude);
}

/// lo ≤ value ≤ hi for estimates lo and hi that may each be off by less than `margin`.
/// NaN anywhere makes it unsure.
Verdict between(double lo, double value, double hi, double margin) {
  const double above = value - lo;
  const double below = hi - value;
  if (above < -margin || below < -margin) {
    return Verdict::no;
  }
  if (above > margin && below > margin) {
    return Verdict::yes;
  }
  return Verdict::unsure;
}

/// `bounds` on estimated images.
Verdict boundsEstimate(Coordinate centre, Coordinate corner, Coordinate target, double margin) {
  const Verdict lat = between(std::min(centre.latitude, corner.latitude), target.latitude,
                              std::max(centre.latitude, corner.latitude), margin);
  const Verdict lon = between(std::min(centre.longitude, corner.longitude), target.longitude,
                              std::max(centre.longitude, corner.longitude), margin);
  if (lat == Verdict::no || lon == Verdict::no) {
    return Verdict::no;
  }
  if (lat == Verdict::yes && lon == Verdict::yes) {
    return Verdict::yes;
  }
  return Verdict::unsure;
}

double deviation(Coordinate image, Coordinate target) {
  return std::fabs(image.latitude - target.latitude) + std::fabs(image.longitude - target.longitude);
}

/// The box of one step: its lower and upper longitudes and latitudes with their estimate parts,
/// the centre, and the corner images known so far.
struct Box {
  Column west;
  Column east;
  Row south;
  Row north;
  Column middleColumn;
  Row middleRow;
  std::optional<Coordinate> lowerLeft;
  std::optional<Coordinate> lowerRight;
  std::optional<Coordinate> upperLeft;

  Coordinate centre() const { return {middleRow.latitude, middleColumn.longitude}; }

  /// The centre of the box (also when it has just been narrowed and has no middle yet).
  Coordinate midpoint() const {
    return {(north.latitude + south.latitude) * 0.5, (east.longitude + west.longitude) * 0.5};
  }
};

/// One step decided from the estimates, or nothing when some comparison is too close to call.
std::optional<Decision> decideFromEstimates(Box& box, Coordinate centreImage, Coordinate target,
                                            double margin, Region region) {
  const double off = deviation(centreImage, target);
  // The estimated deviation may be off by twice the image error.
  if (!(std::fabs(off - K::searchTolerance) > 3.0 * margin)) {
    return std::nullopt;
  }
  if (off <= K::searchTolerance) {
    return Decision::done;
  }

  if (!box.lowerLeft) {
    box.lowerLeft = GcjImageEstimate::image(box.west, box.south, region);
  }
  Verdict verdict = boundsEstimate(centreImage, *box.lowerLeft, target, margin);
  if (verdict != Verdict::no) {
    return verdict == Verdict::yes ? std::optional(Decision::lowerLeft) : std::nullopt;
  }
  if (!box.lowerRight) {
    box.lowerRight = GcjImageEstimate::image(box.east, box.south, region);
  }
  verdict = boundsEstimate(centreImage, *box.lowerRight, target, margin);
  if (verdict != Verdict::no) {
    return verdict == Verdict::yes ? std::optional(Decision::lowerRight) : std::nullopt;
  }
  if (!box.upperLeft) {
    box.upperLeft = GcjImageEstimate::image(box.west, box.north, region);
  }
  verdict = boundsEstimate(centreImage, *box.upperLeft, target, margin);
  if (verdict != Verdict::no) {
    return verdict == Verdict::yes ? std::optional(Decision::upperLeft) : std::nullopt;
  }
  return Decision::upperRight;
}

/// One step decided as the plain search decides it, from exact forward transforms.
Decision decideExactly(const Box& box, Coordinate target, Region region) {
  const auto forward = [region](double lat, double lon) {
    return OrbCoorTransform::transformFromWGSToGCJ({lat, lon}, region);
  };
  const Coordinate centreImage = forward(box.middleRow.latitude, box.middleColumn.longitude);
  if (deviation(centreImage, target) <= K::searchTolerance) {
    return Decision::done;
  }
  if (bounds(centreImage, forward(box.south.latitude, box.west.longitude), target)) {
    return Decision::lowerLeft;
  }
  if (bounds(centreImage, forward(box.south.latitude, box.east.longitude), target)) {
    return Decision::lowerRight;
  }
  if (bounds(centreImage, forward(box.north.latitude, box.west.longitude), target)) {
    return Decision::upperLeft;
  }
  return Decision::upperRight;
}

/// Narrows the box to the chosen quadrant, keeping the corner images it shares with the parent.
void narrow(Box& box, Decision decision, std::optional<Coordinate> centreImage) {
  switch (decision) {
    case Decision::lowerLeft:
      box.east = box.middleColumn;
      box.north = box.middleRow;
      box.lowerRight.reset();
      box.upperLeft.reset();
      break;
    case Decision::lowerRight:
      box.west = box.middleColumn;
      box.north = box.middleRow;
      box.lowerLeft.reset();
      box.upperLeft = centreImage;
      break;
    case Decision::upperLeft:
      box.south = box.middleRow;
      box.east = box.middleColumn;
      box.lowerLeft.reset();
      box.lowerRight = centreImage;
      break;
    case Decision::upperRight:
      box.west = box.middleColumn;
      box.south = box.middleRow;
      box.lowerLeft = centreImage;
      box.lowerRight.reset();
      box.upperLeft.reset();
      break;
    case Decision::done:
      break;
  }
}

/// The end of a search that ran out of steps. The quadrant test sees only two of a quadrant's four
/// corner images, so for about 0.4 % of points it keeps a quadrant that does not hold the answer;
/// the search then closes in on a wrong point (up to 0.015 degree off) and never meets its
/// tolerance, which a search on the right track meets long before its last step. Such a miss is
/// mended by fixed-point steps w ← w − (f(w) − target) from the target, which lies within the
/// offset (about 0.01 degree) of the answer; one or two steps reach the tolerance. The mended
/// point is kept only when it lands closer than the search's: near the region's edge, where f
/// jumps, it may not. Kept out of line: it is rare, and the search loop is the hot path.
[[gnu::noinline]] Coordinate settle(Coordinate found, Coordinate target, Region region) {
  constexpr int refineSteps = 8;
  const auto forward = [region](Coordinate wgs) { return OrbCoorTransform::transformFromWGSToGCJ(wgs, region); };
  const double missed = deviation(forward(found), target);
  if (!(missed > K::searchTolerance)) {
    return found;  // within the tolerance after all, or NaN: nothing to mend
  }
  Coordinate point = target;
  Coordinate image = forward(point);
  double off = deviation(image, target);
  for (int step = 0; step < refineSteps && off > K::searchTolerance; ++step) {
    const Coordinate next{point.latitude - (image.latitude - target.latitude),
                          point.longitude - (image.longitude - target.longitude)};
    const Coordinate nextImage = forward(next);
    const double nextOff = deviation(nextImage, target);
    if (!(nextOff < off)) {
      break;
    }
    point = next;
    image = nextImage;
    off = nextOff;
  }
  return off < missed ? point : found;
}

}  // namespace

Coordinate GcjInverseSearch::run(Coordinate gcj) const {
  const double lat = gcj.latitude;
  const double lon = gcj.longitude;
  const double half = K::searchHalfWidth;
  const GcjImageEstimate::Axes lower = GcjImageEstimate::axes(lon - half, lat - half);
  const GcjImageEstimate::Axes upper = GcjImageEstimate::axes(lon + half, lat + half);
  Box box{lower.column, upper.column, lower.row, upper.row, {}, {}, std::nullopt, std::nullopt, std::nullopt};

  for (int step = 0; step < K::searchSteps; ++step) {
    const Coordinate middle = box.midpoint();
    // Each centre lies within half a degree of the one before: turn its angles.
    const GcjImageEstimate::Axes axes =
        step == 0 ? GcjImageEstimate::axes(middle.longitude, middle.latitude)
                  : GcjImageEstimate::axesNear(middle.longitude, middle.latitude, {box.middleColumn, box.middleRow});
    box.middleColumn = axes.column;
    box.middleRow = axes.row;
    const Coordinate centreImage = GcjImageEstimate::image(box.middleColumn, box.middleRow, region_);

    const std::optional<Decision> estimated = decideFromEstimates(box, centreImage, gcj, margin_, region_);
    const Decision decision = estimated ? *estimated : decideExactly(box, gcj, region_);
    if (decision == Decision::done) {
      return box.centre();
    }
    narrow(box, decision, centreImage);
  }
  return settle(box.midpoint(), gcj, region_);
}

}  // namespace tovik
