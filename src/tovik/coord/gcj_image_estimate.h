#pragma once

#include "tovik/platform/location.h"

namespace tovik {

/// A fast estimate of the WGS-84 → GCJ-02 image of grid points, for the inverse search.
///
/// The image of (longitude, latitude) splits into parts that depend on the longitude alone, parts
/// that depend on the latitude alone and one product of the two. A `Column` holds the first, a
/// `Row` the second; `image` combines one of each in a few operations. The bisection only ever
/// visits three longitudes and three latitudes per step, two of them known from the step
/// before, so most of the work of an image is done once per new coordinate, not once per point.
/// `axes` makes a column and a row together, the two sine chains side by side in two lanes.
///
/// Accuracy. Outside the GCJ-02 region the estimate is the identity, exactly like the transform.
/// Inside it differs from OrbCoorTransform::transformFromWGSToGCJ by at most `maxError` degree
/// in each component: the sines come from one sincos per coordinate by multiple-angle steps
/// (about 5e-13 absolute at worst), the sums are regrouped and the divisions turned into
/// multiplications (a few ulp of offsets of at most 0.01 degree); after the scaling to degrees
/// what remains is the rounding of the final addition, one or two ulp of the coordinate
/// (< 6e-14 below 256 degrees). `maxError` leaves more than a factor 10 above that.
class GcjImageEstimate {
 public:
  static constexpr double maxError = 1e-12;

  /// The longitude-only parts of the image.
  struct Column {
    double longitude;
    double tenthX;     // 0.1 · (longitude − 105)
    double latitudePart;
    double longitudePart;
  };

  /// The latitude-only parts of the image.
  struct Row {
    double latitude;
    double y;          // latitude − 35
    double latitudePart;
    double longitudePart;
    double latitudeScale;   // raw offset → degrees
    double longitudeScale;
  };

  struct Axes {
    Column column;
    Row row;
  };

  static Axes axes(double longitude, double latitude);

  /// The estimated GCJ-02 image of (row.latitude, column.longitude).
  static Coordinate image(const Column& column, const Row& row);
};

}  // namespace tovik
