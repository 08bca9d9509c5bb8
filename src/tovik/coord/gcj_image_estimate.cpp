#include "tovik/coord/gcj_image_estimate.h"

#include <cmath>
#include <cstring>

#include "tovik/coord/china_region.h"
#include "tovik/coord/datum_constants.h"
#include "tovik/coord/vector_datum_batch.h"

namespace tovik {

// The lane formulas on a pair of doubles: lane 0 carries the longitude, lane 1 the latitude.
// A generic vector of the compiler, so it builds for any target.
namespace pair_lanes {

using V = double __attribute__((vector_size(2 * sizeof(double))));
using Mask = decltype(V{} < V{});
#define TOVIK_LANE_TARGET

inline V vsqrt(V v) { return V{std::sqrt(v[0]), std::sqrt(v[1])}; }
inline V vabs(V v) { return V{std::fabs(v[0]), std::fabs(v[1])}; }
inline V vsin(V v) { return V{std::sin(v[0]), std::sin(v[1])}; }
inline V vcos(V v) { return V{std::cos(v[0]), std::cos(v[1])}; }
inline V vatan2(V y, V x) { return V{std::atan2(y[0], x[0]), std::atan2(y[1], x[1])}; }
inline void vsincos(V v, V& sine, V& cosine) {
  sine = vsin(v);
  cosine = vcos(v);
}
inline V select(Mask mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace pair_lanes

namespace {

using K = DatumConstants;
using pair_lanes::PolynomialSines;
using pair_lanes::V;

/// The column and row of (longitude, latitude) from the sines of their coordinate differences.
GcjImageEstimate::Axes build(double longitude, double latitude, const PolynomialSines& sines) {
  using pair_lanes::sineTerm;
  const double x = longitude - K::originLongitude;
  const double y = latitude - K::originLatitude;
  const auto term = [](double k, V sine, int lane) { return sineTerm(k, sine)[lane]; };

  const double shared = term(20.0, sines.times6, 0) + term(20.0, sines.times2, 0);
  const double root = std::sqrt(std::fabs(x));
  const GcjImageEstimate::Column column{
      longitude,
      0.1 * x,
      (-100.0 + 2.0 * x) + 0.2 * root + shared,
      (300.0 + x) + (0.1 * x) * x + 0.1 * root + shared + term(20.0, sines.times1, 0) +
          term(40.0, sines.over3, 0) + term(150.0, sines.over12, 0) + term(300.0, sines.over30, 0),
      sines.theta.c[0],
      sines.theta.s[0]};

  const pair_lanes::Unit radLat = pair_lanes::latitudeUnit(sines.theta);
  const double sinLat = radLat.s[1];
  const double magic = 1.0 - (K::ee * sinLat) * sinLat;
  const double sqrtMagic = std::sqrt(magic);
  constexpr double latitudeFactor = 180.0 / (K::a * (1.0 - K::ee) * K::pi);
  constexpr double longitudeFactor = 180.0 / (K::a * K::pi);
  const GcjImageEstimate::Row row{
      latitude,
      y,
      3.0 * y + (0.2 * y) * y + term(20.0, sines.times1, 1) + term(40.0, sines.over3, 1) +
          term(160.0, sines.over12, 1) + term(320.0, sines.over30, 1),
      2.0 * y,
      latitudeFactor * (magic * sqrtMagic),
      longitudeFactor * sqrtMagic / radLat.c[1],
      sines.theta.c[1],
      sines.theta.s[1]};
  return {column, row};
}

}  // namespace

GcjImageEstimate::Axes GcjImageEstimate::axes(double longitude, double latitude) {
  const V differences{longitude - K::originLongitude, latitude - K::originLatitude};
  return build(longitude, latitude, pair_lanes::polynomialSines(differences));
}

GcjImageEstimate::Axes GcjImageEstimate::axesNear(double longitude, double latitude, const Axes& near) {
  // theta turns by d = (distance to `near`)·pi/180 < 0.02: the series below are exact to far
  // below an ulp there.
  constexpr double piOver180 = K::pi / 180.0;
  const V d = V{longitude - near.column.longitude, latitude - near.row.latitude} * piOver180;
  const V d2 = d * d;
  const pair_lanes::Unit turn{1.0 - d2 * (1.0 / 2.0 - d2 * (1.0 / 24.0 - d2 * (1.0 / 720.0))),
                              d * (1.0 - d2 * (1.0 / 6.0 - d2 * (1.0 / 120.0 - d2 * (1.0 / 5040.0))))};
  const pair_lanes::Unit from{V{near.column.thetaCos, near.row.thetaCos},
                              V{near.column.thetaSin, near.row.thetaSin}};
  return build(longitude, latitude, pair_lanes::sinesFromTheta(pair_lanes::sum(from, turn)));
}

Coordinate GcjImageEstimate::image(const Column& column, const Row& row, Region region) {
  const double lat = row.latitude;
  const double lon = column.longitude;
  if (isOutside(region, lat, lon)) {
    return {lat, lon};
  }
  const double mixed = column.tenthX * row.y;
  const double rLat = column.latitudePart + row.latitudePart + mixed;
  const double rLon = column.longitudePart + row.longitudePart + mixed;
  return {lat + rLat * row.latitudeScale, lon + rLon * row.longitudeScale};
}

}  // namespace tovik
