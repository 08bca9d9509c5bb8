#include "tovik/coord/orb_coor_transform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include <GeographicLib/Geodesic.hpp>

#include "tovik/coord/china_region.h"
#include "tovik/coord/datum_constants.h"
#include "tovik/coord/gcj_inverse_search.h"
#include "tovik/coord/precise_inverse.h"
#include "tovik/coord/vector_datum_batch.h"

namespace tovik {

namespace {

using K = DatumConstants;

/// k · sin(arg) · 2 ÷ 3, one operation at a time.
double sineTerm(double k, double sine) {
  return ((k * sine) * 2.0) / 3.0;
}

/// The latitude polynomial; x is a longitude difference, y a latitude difference (degrees).
double transformLat(double x, double y) {
  const double pi = K::pi;
  double r = -100.0 + 2.0 * x;
  r += 3.0 * y;
  r += (0.2 * y) * y;
  r += (0.1 * x) * y;
  r += 0.2 * std::sqrt(std::fabs(x));
  r += sineTerm(20.0, std::sin((6.0 * x) * pi));
  r += sineTerm(20.0, std::sin((2.0 * x) * pi));
  r += sineTerm(20.0, std::sin(y * pi));
  r += sineTerm(40.0, std::sin((y / 3.0) * pi));
  r += sineTerm(160.0, std::sin((y / 12.0) * pi));
  r += sineTerm(320.0, std::sin((y * pi) / 30.0));  // y·pi first, then ÷ 30
  return r;
}

/// The longitude polynomial. Its first two sine terms are those of transformLat (GCC computes
/// them once for both).
double transformLon(double x, double y) {
  const double pi = K::pi;
  double r = 300.0 + x;
  r += 2.0 * y;
  r += (0.1 * x) * x;
  r += (0.1 * x) * y;
  r += 0.1 * std::sqrt(std::fabs(x));
  r += sineTerm(20.0, std::sin((6.0 * x) * pi));
  r += sineTerm(20.0, std::sin((2.0 * x) * pi));
  r += sineTerm(20.0, std::sin(x * pi));
  r += sineTerm(40.0, std::sin((x / 3.0) * pi));
  r += sineTerm(150.0, std::sin((x / 12.0) * pi));
  r += sineTerm(300.0, std::sin((x / 30.0) * pi));  // x ÷ 30 first, then · pi
  return r;
}

/// Runs `transform` over a batch, point by point.
template <class Transform>
void eachPoint(std::span<const Coordinate> in, std::span<Coordinate> out, Transform transform) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    out[i] = transform(in[i]);
  }
}

/// A batch with a vectorised form: the vector path when one is there, else point by point.
template <class Transform>
bool forwardBatch(VectorDatumBatch::Operation operation, std::span<const Coordinate> in,
                  std::span<Coordinate> out, BatchPath path, Transform transform) {
  if (in.size() != out.size()) {
    return false;
  }
  const BatchPath effective = VectorDatumBatch::effectivePath(path);
  if (effective == BatchPath::scalar) {
    eachPoint(in, out, transform);
  } else {
    VectorDatumBatch::run(operation, effective, in, out);
  }
  return true;
}

/// A forward batch in the precise region. The vector lanes test the rectangle, which holds the
/// precise region; the points the region leaves alone are put back afterwards, a chunk at a time
/// so that `in` may be `out`. WGS-84 → BD-09 converts the region's GCJ-02 points on to BD-09.
void preciseForwardBatch(VectorDatumBatch::Operation operation, std::span<const Coordinate> in,
                         std::span<Coordinate> out, BatchPath path) {
  constexpr std::size_t chunk = 256;
  std::array<Coordinate, chunk> saved{};
  const bool toBaidu = operation == VectorDatumBatch::Operation::wgsToBaidu;
  for (std::size_t start = 0; start < in.size(); start += chunk) {
    const std::size_t count = std::min(chunk, in.size() - start);
    const std::span<Coordinate> kept(saved.data(), count);
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(start), count, kept.begin());
    const std::span<Coordinate> result = out.subspan(start, count);
    VectorDatumBatch::run(VectorDatumBatch::Operation::wgsToGcj, path, kept, result);
    for (std::size_t i = 0; i < count; ++i) {
      if (!ChinaRegion::contains(kept[i].latitude, kept[i].longitude)) {
        result[i] = kept[i];
      }
    }
    if (toBaidu) {
      VectorDatumBatch::run(VectorDatumBatch::Operation::gcjToBaidu, path, result, result);
    }
  }
}

/// A forward batch in `region`.
template <class Transform>
bool forwardBatchIn(Region region, VectorDatumBatch::Operation operation, std::span<const Coordinate> in,
                    std::span<Coordinate> out, BatchPath path, Transform transform) {
  if (region == Region::rectangle) {
    return forwardBatch(operation, in, out, path, transform);
  }
  if (in.size() != out.size()) {
    return false;
  }
  const BatchPath effective = VectorDatumBatch::effectivePath(path);
  if (effective == BatchPath::scalar) {
    eachPoint(in, out, transform);
  } else {
    preciseForwardBatch(operation, in, out, effective);
  }
  return true;
}

/// The inverse batches search point by point on every path: the search branches at every step,
/// and its result must not depend on the path.
template <class Transform>
bool inverseBatch(std::span<const Coordinate> in, std::span<Coordinate> out, Transform transform) {
  if (in.size() != out.size()) {
    return false;
  }
  eachPoint(in, out, transform);
  return true;
}

/// A GCJ-02 point of the precise region's inverse: the lanes answered for the rectangle, which
/// holds the region; a target outside the region is its own preimage.
Coordinate inPreciseRegion(Coordinate target, Coordinate rectangleAnswer) {
  return ChinaRegion::contains(target.latitude, target.longitude) ? rectangleAnswer : target;
}

/// A precise inverse batch. BD-09 → WGS-84 in the precise region converts to GCJ-02 first, so
/// that the region test sees the GCJ-02 point. A chunk at a time so that `in` may be `out`.
bool preciseInverseBatch(bool fromBaidu, std::span<const Coordinate> in, std::span<Coordinate> out, Region region,
                         BatchPath path) {
  using Op = VectorDatumBatch::Operation;
  if (in.size() != out.size()) {
    return false;
  }
  const BatchPath effective = VectorDatumBatch::effectivePath(path);
  if (effective == BatchPath::scalar) {
    if (fromBaidu) {
      eachPoint(in, out, [region](Coordinate c) { return OrbCoorTransform::transformFromBaiduToWGSPrecise(c, region); });
    } else {
      eachPoint(in, out, [region](Coordinate c) { return OrbCoorTransform::transformFromGCJToWGSPrecise(c, region); });
    }
    return true;
  }
  if (region == Region::rectangle) {
    VectorDatumBatch::run(fromBaidu ? Op::baiduToWgsPrecise : Op::gcjToWgsPrecise, effective, in, out);
    return true;
  }
  constexpr std::size_t chunk = 256;
  std::array<Coordinate, chunk> targets{};
  for (std::size_t start = 0; start < in.size(); start += chunk) {
    const std::size_t count = std::min(chunk, in.size() - start);
    const std::span<Coordinate> kept(targets.data(), count);
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(start), count, kept.begin());
    if (fromBaidu) {
      VectorDatumBatch::run(Op::baiduToGcjPrecise, effective, kept, kept);
    }
    const std::span<Coordinate> result = out.subspan(start, count);
    VectorDatumBatch::run(Op::gcjToWgsPrecise, effective, kept, result);
    for (std::size_t i = 0; i < count; ++i) {
      result[i] = inPreciseRegion(kept[i], result[i]);
    }
  }
  return true;
}

}  // namespace

Coordinate OrbCoorTransform::transformFromWGSToGCJ(Coordinate wgs) {
  return transformFromWGSToGCJ(wgs, Region::rectangle);
}

Coordinate OrbCoorTransform::transformFromWGSToGCJ(Coordinate wgs, Region region) {
  const double lat = wgs.latitude;
  const double lon = wgs.longitude;
  if (isOutside(region, lat, lon)) {
    return wgs;
  }
  const double x = lon - K::originLongitude;
  const double y = lat - K::originLatitude;
  double dLat = transformLat(x, y);
  double dLon = transformLon(x, y);
  const double radLat = (lat / 180.0) * K::pi;
  const double s = std::sin(radLat);
  const double cosLat = std::cos(radLat);
  const double magic = 1.0 - (K::ee * s) * s;
  const double sqrtMagic = std::sqrt(magic);
  dLat = (dLat * 180.0) / (((K::a * (1.0 - K::ee)) / (magic * sqrtMagic)) * K::pi);
  dLon = (dLon * 180.0) / (((K::a / sqrtMagic) * cosLat) * K::pi);
  return {lat + dLat, lon + dLon};
}

Coordinate OrbCoorTransform::transformFromGCJToWGS(Coordinate gcj) {
  return GcjInverseSearch().run(gcj);
}

Coordinate OrbCoorTransform::transformFromGCJToWGS(Coordinate gcj, Region region) {
  return GcjInverseSearch(GcjInverseSearch::defaultMargin, region).run(gcj);
}

Coordinate OrbCoorTransform::transformFromGCJToBaidu(Coordinate gcj) {
  const double x = gcj.longitude;
  const double y = gcj.latitude;
  const double z = std::sqrt(x * x + y * y) + K::baiduRadiusFactor * std::sin(y * K::xPi);
  const double theta = std::atan2(y, x) + K::baiduAngleFactor * std::cos(x * K::xPi);
  return {z * std::sin(theta) + K::baiduLatitudeOffset, z * std::cos(theta) + K::baiduLongitudeOffset};
}

Coordinate OrbCoorTransform::transformFromBaiduToGCJ(Coordinate bd) {
  const double x = bd.longitude - K::baiduLongitudeOffset;
  const double y = bd.latitude - K::baiduLatitudeOffset;
  const double z = std::sqrt(x * x + y * y) - K::baiduRadiusFactor * std::sin(y * K::xPi);
  const double theta = std::atan2(y, x) - K::baiduAngleFactor * std::cos(x * K::xPi);
  return {z * std::sin(theta), z * std::cos(theta)};
}

Coordinate OrbCoorTransform::transformFromWGSToBaidu(Coordinate wgs) {
  return transformFromGCJToBaidu(transformFromWGSToGCJ(wgs));
}

Coordinate OrbCoorTransform::transformFromBaiduToWGS(Coordinate bd) {
  return transformFromGCJToWGS(transformFromBaiduToGCJ(bd));
}

Coordinate OrbCoorTransform::transformFromWGSToBaidu(Coordinate wgs, Region region) {
  return transformFromGCJToBaidu(transformFromWGSToGCJ(wgs, region));
}

Coordinate OrbCoorTransform::transformFromBaiduToWGS(Coordinate bd, Region region) {
  return transformFromGCJToWGS(transformFromBaiduToGCJ(bd), region);
}

bool OrbCoorTransform::contains(Coordinate wgs, Region region) {
  return !isOutside(region, wgs.latitude, wgs.longitude);
}

double OrbCoorTransform::distanceByPoint(double lat1, double lat2, double lng1, double lng2) {
  const double r = K::degreesToRadians;
  const double p1 = lat1 * r;
  const double p2 = lat2 * r;
  const double dl = lng1 * r - lng2 * r;
  const double t = std::cos(dl) * (std::cos(p2) * (2.0 * std::cos(p1)));
  double q = (2.0 - t) - (2.0 * std::sin(p1)) * std::sin(p2);
  // q is the squared chord of the unit sphere, 0..4. Rounding leaves it a hair below 0 for
  // coincident points or above 4 for antipodal ones, where asin would give NaN: keep it in range,
  // and give identical points exactly 0 rather than a few centimetres of rounding noise.
  // NaN passes through both tests unchanged.
  if (p1 == p2 && dl == 0.0) {
    q = 0.0;
  } else if (q < 0.0) {
    q = 0.0;
  } else if (q > 4.0) {
    q = 4.0;
  }
  return std::asin(std::sqrt(q) * 0.5) * K::earthDiameter;
}

double OrbCoorTransform::distanceByPoint(Coordinate point1, Coordinate point2) {
  return distanceByPoint(point1.latitude, point2.latitude, point1.longitude, point2.longitude);
}

Coordinate OrbCoorTransform::transformFromGCJToWGSPrecise(Coordinate gcj, Region region) {
  const Coordinate answer = PreciseInverse::gcjToWgs(gcj);
  return region == Region::rectangle ? answer : inPreciseRegion(gcj, answer);
}

Coordinate OrbCoorTransform::transformFromBaiduToWGSPrecise(Coordinate bd, Region region) {
  return transformFromGCJToWGSPrecise(PreciseInverse::baiduToGcj(bd), region);
}

double OrbCoorTransform::geodesicDistance(Coordinate point1, Coordinate point2) {
  double metres = 0.0;
  GeographicLib::Geodesic::WGS84().Inverse(point1.latitude, point1.longitude, point2.latitude, point2.longitude,
                                           metres);
  return metres;
}

double OrbCoorTransform::trackLength(std::span<const Coordinate> points) {
  double total = 0.0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    total += distanceByPoint(points[i - 1], points[i]);
  }
  return total;
}

double OrbCoorTransform::geodesicTrackLength(std::span<const Coordinate> points) {
  double total = 0.0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    total += geodesicDistance(points[i - 1], points[i]);
  }
  return total;
}

bool OrbCoorTransform::transformFromWGSToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out,
                                             BatchPath path) {
  return forwardBatch(VectorDatumBatch::Operation::wgsToGcj, in, out, path,
                      [](Coordinate c) { return transformFromWGSToGCJ(c); });
}

bool OrbCoorTransform::transformFromGCJToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                             BatchPath /*path*/) {
  return inverseBatch(in, out, [](Coordinate c) { return transformFromGCJToWGS(c); });
}

bool OrbCoorTransform::transformFromGCJToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               BatchPath path) {
  return forwardBatch(VectorDatumBatch::Operation::gcjToBaidu, in, out, path,
                      [](Coordinate c) { return transformFromGCJToBaidu(c); });
}

bool OrbCoorTransform::transformFromBaiduToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               BatchPath path) {
  return forwardBatch(VectorDatumBatch::Operation::baiduToGcj, in, out, path,
                      [](Coordinate c) { return transformFromBaiduToGCJ(c); });
}

bool OrbCoorTransform::transformFromWGSToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               BatchPath path) {
  return forwardBatch(VectorDatumBatch::Operation::wgsToBaidu, in, out, path,
                      [](Coordinate c) { return transformFromWGSToBaidu(c); });
}

bool OrbCoorTransform::transformFromBaiduToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               BatchPath /*path*/) {
  return inverseBatch(in, out, [](Coordinate c) { return transformFromBaiduToWGS(c); });
}

bool OrbCoorTransform::transformFromWGSToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out,
                                             Region region, BatchPath path) {
  return forwardBatchIn(region, VectorDatumBatch::Operation::wgsToGcj, in, out, path,
                        [region](Coordinate c) { return transformFromWGSToGCJ(c, region); });
}

bool OrbCoorTransform::transformFromGCJToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                             Region region, BatchPath /*path*/) {
  return inverseBatch(in, out, [region](Coordinate c) { return transformFromGCJToWGS(c, region); });
}

bool OrbCoorTransform::transformFromWGSToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               Region region, BatchPath path) {
  return forwardBatchIn(region, VectorDatumBatch::Operation::wgsToBaidu, in, out, path,
                        [region](Coordinate c) { return transformFromWGSToBaidu(c, region); });
}

bool OrbCoorTransform::transformFromBaiduToWGS(std::span<const Coordinate> in, std::span<Coordinate> out,
                                               Region region, BatchPath /*path*/) {
  return inverseBatch(in, out, [region](Coordinate c) { return transformFromBaiduToWGS(c, region); });
}

bool OrbCoorTransform::transformFromGCJToWGSPrecise(std::span<const Coordinate> in, std::span<Coordinate> out,
                                                    Region region, BatchPath path) {
  return preciseInverseBatch(false, in, out, region, path);
}

bool OrbCoorTransform::transformFromBaiduToWGSPrecise(std::span<const Coordinate> in, std::span<Coordinate> out,
                                                      Region region, BatchPath path) {
  return preciseInverseBatch(true, in, out, region, path);
}

BatchPath OrbCoorTransform::effectiveBatchPath(BatchPath requested) {
  return VectorDatumBatch::effectivePath(requested);
}

}  // namespace tovik
