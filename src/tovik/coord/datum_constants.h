#pragma once

#include "tovik/system/earth.h"

namespace tovik {

/// The numbers of the WGS-84 → GCJ-02 → BD-09 conversions and of the distance formula, named
/// once. Every transform, the inverse search and the vectorised batch read them from here.
/// Internal: not part of the application's API.
struct DatumConstants {
  /// Semi-major axis of the reference ellipsoid, metres.
  static constexpr double a = 6378245.0;
  /// First eccentricity squared of that ellipsoid.
  static constexpr double ee = 0.006693421622965943;
  /// The double nearest to pi.
  static constexpr double pi = 3.141592653589793;
  /// Angular factor of the BD-09 perturbation, pi * 3000 / 180 in double arithmetic.
  static constexpr double xPi = pi * 3000.0 / 180.0;

  // The rectangle in which GCJ-02 differs from WGS-84 (degrees, bounds inside).
  static constexpr double minLongitude = 72.004;
  static constexpr double maxLongitude = 137.8347;
  static constexpr double minLatitude = 0.8293;
  static constexpr double maxLatitude = 55.8271;

  // Origin of the offset polynomials (degrees).
  static constexpr double originLongitude = 105.0;
  static constexpr double originLatitude = 35.0;

  // BD-09 on top of GCJ-02.
  static constexpr double baiduLongitudeOffset = 0.0065;
  static constexpr double baiduLatitudeOffset = 0.006;
  static constexpr double baiduRadiusFactor = 0.00002;
  static constexpr double baiduAngleFactor = 0.000003;

  // GCJ-02 → WGS-84 bisection: starting half-width and tolerance (degrees), number of steps.
  static constexpr double searchHalfWidth = 0.5;
  static constexpr double searchTolerance = 0.00001;
  static constexpr int searchSteps = 30;

  // Distance on the sphere of radius kEarthRadius.
  static constexpr double degreesToRadians = 0.017453292519943295;
  static constexpr double earthDiameter = 2.0 * kEarthRadius;

  /// True outside the GCJ-02 rectangle. The tests run in this order; the bounds count as inside,
  /// and a NaN coordinate fails every comparison and so counts as inside.
  static constexpr bool isOutOfRegion(double latitude, double longitude) {
    return longitude < minLongitude || longitude > maxLongitude || latitude < minLatitude ||
           latitude > maxLatitude;
  }
};

// The derived values the formulas rely on, checked at compile time.
static_assert(DatumConstants::xPi == 52.35987755982988);
static_assert(DatumConstants::a * (1.0 - DatumConstants::ee) == 6335552.717000426);
static_assert(DatumConstants::pi / 180.0 == DatumConstants::degreesToRadians);
static_assert(DatumConstants::earthDiameter == 12742008.0);

}  // namespace tovik
