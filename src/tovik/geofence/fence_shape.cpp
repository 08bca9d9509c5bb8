#include "tovik/geofence/fence_shape.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

// The algorithms find their default strategies only through the whole library's header.
#include <boost/geometry.hpp>
#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/geometries/polygon.hpp>

#include "tovik/coord/orb_coor_transform.h"
#include "tovik/system/earth.h"

namespace tovik {
namespace {

namespace bg = boost::geometry;

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
constexpr double kMetresPerDegree = kEarthRadius * kRadiansPerDegree;
// Widens a circle's box beyond rounding, so that a point the distance puts on the edge is in it.
constexpr double kBoxMargin = 1e-9;

class CircleShape final : public FenceShape {
 public:
  explicit CircleShape(const GeofenceCircle& circle) : circle_(circle), box_(circleBounds(circle)) {}

  Box bounds() const override { return box_; }
  bool contains(Coordinate point) const override { return !isFartherThan(point, 0.0); }
  bool isFartherThan(Coordinate point, double metres) const override {
    return OrbCoorTransform::distanceByPoint(circle_.center, point) - circle_.radius > metres;
  }
  double radius() const override { return circle_.radius; }

 private:
  const GeofenceCircle circle_;
  const Box box_;
};

class PolygonShape final : public FenceShape {
 public:
  explicit PolygonShape(const GeofencePolygon& polygon) {
    box_ = {.south = 90.0, .west = 180.0, .north = -90.0, .east = -180.0};
    for (const Coordinate& c : polygon.ring) {
      box_ = {.south = std::min(box_.south, c.latitude),
              .west = std::min(box_.west, c.longitude),
              .north = std::max(box_.north, c.latitude),
              .east = std::max(box_.east, c.longitude)};
    }
    originLatitude_ = (box_.south + box_.north) / 2;
    originLongitude_ = (box_.west + box_.east) / 2;
    metresPerDegreeLongitude_ = kMetresPerDegree * std::cos(originLatitude_ * kRadiansPerDegree);
    for (const Coordinate& c : polygon.ring) bg::append(polygon_.outer(), plane(c));
    for (const auto& hole : polygon.holes) {
      polygon_.inners().emplace_back();
      for (const Coordinate& c : hole) bg::append(polygon_.inners().back(), plane(c));
    }
    // Closes the rings and turns them the way the algorithms expect.
    bg::correct(polygon_);
    bg::envelope(polygon_, envelope_);
    radius_ = std::sqrt(bg::area(polygon_) / std::numbers::pi);
  }

  Box bounds() const override { return box_; }

  bool contains(Coordinate point) const override {
    const Point p = plane(point);
    // The crossing test is several times faster than the default, which also settles points on
    // an edge exactly; fixes scatter by metres.
    return bg::covered_by(p, envelope_) && bg::within(p, polygon_, bg::strategy::within::crossings_multiply<Point>());
  }

  bool isFartherThan(Coordinate point, double metres) const override {
    const Point p = plane(point);
    // The distance to the envelope bounds the distance to the edges from below: most points
    // far away are settled without visiting the edges.
    if (bg::comparable_distance(p, envelope_) > metres * metres) return true;
    if (contains(point)) return false;
    double nearest = std::numeric_limits<double>::infinity();
    bg::for_each_segment(polygon_,
                         [&](const auto& edge) { nearest = std::min(nearest, bg::comparable_distance(p, edge)); });
    return nearest > metres * metres;
  }

  double radius() const override { return radius_; }

 private:
  // Single precision halves what a test reads (the fixes that test a fence are cache misses)
  // and keeps a centimetre across a polygon 100 km wide.
  using Point = bg::model::d2::point_xy<float>;

  Point plane(Coordinate c) const {
    return {static_cast<float>((c.longitude - originLongitude_) * metresPerDegreeLongitude_),
            static_cast<float>((c.latitude - originLatitude_) * kMetresPerDegree)};
  }

  Box box_;
  double originLatitude_ = 0.0;
  double originLongitude_ = 0.0;
  double metresPerDegreeLongitude_ = 0.0;
  bg::model::polygon<Point> polygon_;
  bg::model::box<Point> envelope_;
  double radius_ = 0.0;
};

}  // namespace

FenceShape::Box FenceShape::circleBounds(const GeofenceCircle& circle) {
  // A cap of angular radius rho: latitudes ±rho, longitudes ±asin(sin rho / cos latitude).
  const double rho = circle.radius / kEarthRadius;
  const double dLat = rho / kRadiansPerDegree + kBoxMargin;
  const double across = std::sin(rho) / std::cos(circle.center.latitude * kRadiansPerDegree);
  const double dLon = std::asin(std::min(1.0, across)) / kRadiansPerDegree + kBoxMargin;
  return {.south = circle.center.latitude - dLat,
          .west = circle.center.longitude - dLon,
          .north = circle.center.latitude + dLat,
          .east = circle.center.longitude + dLon};
}

std::unique_ptr<const FenceShape> FenceShape::make(const std::variant<GeofenceCircle, GeofencePolygon>& shape) {
  if (const auto* circle = std::get_if<GeofenceCircle>(&shape)) {
    return std::make_unique<CircleShape>(*circle);
  }
  return std::make_unique<PolygonShape>(std::get<GeofencePolygon>(shape));
}

}  // namespace tovik
