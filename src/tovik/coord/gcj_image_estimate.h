#pragma once

#include "tovik/coord/region.h"
#include "tovik/system/location.h"

namespace tovik {

/// A fast estimate of the WGS-84 → GCJ-02 image of grid points, for the inverse search.
///
/// The image of (longitude, latitude) splits into parts that depend on the longitude alone, parts
/// that depend on the latitude alone and one product of the two. A `Column` holds the first, a
/// `Row` the second; `image` combines one of each in a few operations. The bisection only ever
/// visits three longitudes and three latitudes per step, two of them known from the step
/// before, so most of the work of an image is done once per new coordinate, not once per point.
/// `axes` makes a column and a row together, the two sine chains side by side in two lanes;
/// `axesNear` does the same without a sincos call, by turning the angles of a point close by.
///
/// Accuracy. Outside the region the estimate is the identity, exactly like the transform.
/// Inside it differs from OrbCoorTransform::transformFromWGSToGCJ by at most `maxError` degree
/// in each component. The polynomials' sines come from the cosine and sine of
/// theta = (coordinate − origin)·pi/180 by multiple-angle steps up to 1080·theta, which multiply
/// an error in theta's pair by at most 1080: about 5e-13 from one sincos, about 1e-11 after 30
/// turns by `axesNear` (each turn adds a few ulp). The sine terms carry factors up to 320·2/3,
/// sums are regrouped and divisions turned into multiplications: a raw offset (up to about 1000)
/// is off by well under 1e-9, and the conversion to degrees (about 1e-5 per unit) leaves under
/// 1e-14. What remains is the rounding of the final addition, one or two ulp of the coordinate
/// (< 6e-14 below 256 degrees). `maxError` leaves more than a factor 10 above all that.
class GcjImageEstimate {
 public:
  static constexpr double maxError = 1e-12;

  /// The longitude-only parts of the image.
  struct Column {
    double longitude;
    double tenthX;  // 0.1 · (longitude − 105)
    double latitudePart;
    double longitudePart;
    double thetaCos;  // cosine and sine of (longitude − 105)·pi/180
    double thetaSin;
  };

  /// The latitude-only parts of the image.
  struct Row {
    double latitude;
    double y;  // latitude − 35
    double latitudePart;
    double longitudePart;
    double latitudeScale;  // raw offset → degrees
    double longitudeScale;
    double thetaCos;  // cosine and sine of (latitude − 35)·pi/180
    double thetaSin;
  };

  struct Axes {
    Column column;
    Row row;
  };

  static Axes axes(double longitude, double latitude);

  /// As `axes`, from the axes of a point less than a degree away (in each coordinate). Call it
  /// at most 30 times in a row before starting afresh with `axes`.
  static Axes axesNear(double longitude, double latitude, const Axes& near);

  /// The estimated GCJ-02 image of (row.latitude, column.longitude), the identity where
  /// `region` leaves the point unchanged.
  static Coordinate image(const Column& column, const Row& row, Region region = Region::rectangle);
};

}  // namespace tovik
