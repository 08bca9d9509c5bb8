#pragma once

#include <memory>
#include <variant>

#include "tovik/geofence/geofence.h"
#include "tovik/system/location.h"

namespace tovik {

/// The geometry of one fence, in the coordinates of its own datum: the box that holds it, the
/// inside test and the distance to it. A circle measures on the kit's sphere. A polygon works in
/// metres on a plane fitted at its box's centre (an affine map of latitude and longitude, so its
/// edges stay straight in both): Boost.Geometry's crossing test (a point exactly on an edge may
/// fall on either side) and the distance to its nearest edge, asked only of a point near its box.
class FenceShape {
 public:
  /// Latitudes and longitudes in degrees, bounds included.
  struct Box {
    double south = 0.0;
    double west = 0.0;
    double north = 0.0;
    double east = 0.0;
  };

  /// The shape of a fence that passed `Geofence::problem`.
  static std::unique_ptr<const FenceShape> make(const std::variant<GeofenceCircle, GeofencePolygon>& shape);

  virtual ~FenceShape() = default;

  virtual Box bounds() const = 0;
  virtual bool contains(Coordinate point) const = 0;
  /// Whether `point` lies more than `metres` (0 or more) outside the fence: beyond the circle's
  /// edge, or from the polygon's nearest edge.
  virtual bool isFartherThan(Coordinate point, double metres) const = 0;
  /// The circle's radius; for a polygon, that of the circle of the same area (metres).
  virtual double radius() const = 0;

  /// The box that holds `circle` (a cap of the sphere), widened a little beyond rounding; it may
  /// reach beyond the poles or the 180th meridian.
  static Box circleBounds(const GeofenceCircle& circle);
};

}  // namespace tovik
