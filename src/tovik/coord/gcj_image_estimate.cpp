#include "tovik/coord/gcj_image_estimate.h"

#include <cmath>
#include <cstring>

#include "tovik/coord/datum_constants.h"
#include "tovik/coord/vector_datum_batch.h"

namespace tovik {

namespace scalar_lanes {

using V = double;
#define TOVIK_LANE_TARGET

inline V vsqrt(V v) { return std::sqrt(v); }
inline V vabs(V v) { return std::fabs(v); }
inline V vsin(V v) { return std::sin(v); }
inline V vcos(V v) { return std::cos(v); }
inline V vatan2(V y, V x) { return std::atan2(y, x); }
inline void vsincos(V v, V& sine, V& cosine) {
  sine = std::sin(v);
  cosine = std::cos(v);
}
inline V select(bool mask, V a, V b) { return mask ? a : b; }

#include "tovik/coord/datum_lane_math.inc"

#undef TOVIK_LANE_TARGET

}  // namespace scalar_lanes

using K = DatumConstants;

GcjImageEstimate::Column GcjImageEstimate::column(double longitude) {
  using namespace scalar_lanes;
  const double x = longitude - K::originLongitude;
  const PolynomialSines sines = polynomialSines(x);
  const double shared = sineTerm(20.0, sines.times6) + sineTerm(20.0, sines.times2);
  const double root = std::sqrt(std::fabs(x));
  const double latitudePart = (-100.0 + 2.0 * x) + 0.2 * root + shared;
  const double longitudePart = (300.0 + x) + (0.1 * x) * x + 0.1 * root + shared +
                               sineTerm(20.0, sines.times1) + sineTerm(40.0, sines.over3) +
                               sineTerm(150.0, sines.over12) + sineTerm(300.0, sines.over30);
  return {longitude, 0.1 * x, latitudePart, longitudePart};
}

GcjImageEstimate::Row GcjImageEstimate::row(double latitude) {
  using namespace scalar_lanes;
  const double y = latitude - K::originLatitude;
  const PolynomialSines sines = polynomialSines(y);
  const double latitudePart = 3.0 * y + (0.2 * y) * y + sineTerm(20.0, sines.times1) +
                              sineTerm(40.0, sines.over3) + sineTerm(160.0, sines.over12) +
                              sineTerm(320.0, sines.over30);
  const Unit radLat = latitudeUnit(sines.theta);
  const double magic = 1.0 - (K::ee * radLat.s) * radLat.s;
  const double sqrtMagic = std::sqrt(magic);
  constexpr double latitudeFactor = 180.0 / (K::a * (1.0 - K::ee) * K::pi);
  constexpr double longitudeFactor = 180.0 / (K::a * K::pi);
  return {latitude,
          y,
          latitudePart,
          2.0 * y,
          latitudeFactor * (magic * sqrtMagic),
          longitudeFactor * sqrtMagic / radLat.c};
}

Coordinate GcjImageEstimate::image(const Column& column, const Row& row) {
  const double lat = row.latitude;
  const double lon = column.longitude;
  if (K::isOutOfRegion(lat, lon)) {
    return {lat, lon};
  }
  const double mixed = column.tenthX * row.y;
  const double rLat = column.latitudePart + row.latitudePart + mixed;
  const double rLon = column.longitudePart + row.longitudePart + mixed;
  return {lat + rLat * row.latitudeScale, lon + rLon * row.longitudeScale};
}

}  // namespace tovik
