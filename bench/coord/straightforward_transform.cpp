#include "straightforward_transform.h"

#include <algorithm>
#include <cmath>

#include "support/plain_gcj_inverse.h"

namespace tovik::bench {

namespace {

const double pi = 3.141592653589793;
const double a = 6378245.0;
const double ee = 0.006693421622965943;
const double xPi = pi * 3000.0 / 180.0;

bool isOutOfRegion(double lat, double lon) {
  return lon < 72.004 || lon > 137.8347 || lat < 0.8293 || lat > 55.8271;
}

double transformLat(double x, double y) {
  double r = -100.0 + 2.0 * x;
  r += 3.0 * y;
  r += (0.2 * y) * y;
  r += (0.1 * x) * y;
  r += 0.2 * std::sqrt(std::fabs(x));
  r += ((20.0 * std::sin((6.0 * x) * pi)) * 2.0) / 3.0;
  r += ((20.0 * std::sin((2.0 * x) * pi)) * 2.0) / 3.0;
  r += ((20.0 * std::sin(y * pi)) * 2.0) / 3.0;
  r += ((40.0 * std::sin((y / 3.0) * pi)) * 2.0) / 3.0;
  r += ((160.0 * std::sin((y / 12.0) * pi)) * 2.0) / 3.0;
  r += ((320.0 * std::sin((y * pi) / 30.0)) * 2.0) / 3.0;
  return r;
}

double transformLon(double x, double y) {
  double r = 300.0 + x;
  r += 2.0 * y;
  r += (0.1 * x) * x;
  r += (0.1 * x) * y;
  r += 0.1 * std::sqrt(std::fabs(x));
  r += ((20.0 * std::sin((6.0 * x) * pi)) * 2.0) / 3.0;
  r += ((20.0 * std::sin((2.0 * x) * pi)) * 2.0) / 3.0;
  r += ((20.0 * std::sin(x * pi)) * 2.0) / 3.0;
  r += ((40.0 * std::sin((x / 3.0) * pi)) * 2.0) / 3.0;
  r += ((150.0 * std::sin((x / 12.0) * pi)) * 2.0) / 3.0;
  r += ((300.0 * std::sin((x / 30.0) * pi)) * 2.0) / 3.0;
  return r;
}

}  // namespace

Coordinate StraightforwardTransform::wgsToGcj(Coordinate wgs) {
  const double lat = wgs.latitude;
  const double lon = wgs.longitude;
  if (isOutOfRegion(lat, lon)) {
    return wgs;
  }
  double dLat = transformLat(lon - 105.0, lat - 35.0);
  double dLon = transformLon(lon - 105.0, lat - 35.0);
  const double radLat = (lat / 180.0) * pi;
  const double s = std::sin(radLat);
  const double cosLat = std::cos(radLat);
  const double magic = 1.0 - (ee * s) * s;
  const double sqrtMagic = std::sqrt(magic);
  dLat = (dLat * 180.0) / (((a * (1.0 - ee)) / (magic * sqrtMagic)) * pi);
  dLon = (dLon * 180.0) / (((a / sqrtMagic) * cosLat) * pi);
  return {lat + dLat, lon + dLon};
}

Coordinate StraightforwardTransform::gcjToWgs(Coordinate gcj) {
  return test::plainGcjInverse(gcj, [](Coordinate wgs) { return wgsToGcj(wgs); }).point;
}

Coordinate StraightforwardTransform::gcjToBaidu(Coordinate gcj) {
  const double x = gcj.longitude;
  const double y = gcj.latitude;
  const double z = std::sqrt(x * x + y * y) + 0.00002 * std::sin(y * xPi);
  const double theta = std::atan2(y, x) + 0.000003 * std::cos(x * xPi);
  return {z * std::sin(theta) + 0.006, z * std::cos(theta) + 0.0065};
}

double StraightforwardTransform::distance(double lat1, double lat2, double lng1, double lng2) {
  const double r = 0.017453292519943295;
  const double p1 = lat1 * r;
  const double p2 = lat2 * r;
  const double dl = lng1 * r - lng2 * r;
  const double t = std::cos(dl) * (std::cos(p2) * (2.0 * std::cos(p1)));
  const double q = (2.0 - t) - (2.0 * std::sin(p1)) * std::sin(p2);
  return std::asin(std::sqrt(q) * 0.5) * 12742008.0;
}

}  // namespace tovik::bench
