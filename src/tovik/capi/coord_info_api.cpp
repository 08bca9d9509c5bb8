// Coordinate transforms, the version and the network check for C callers: stateless,
// callable from any thread.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tovik/capi/c_boundary.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/info/tk_version.h"
#include "tovik/network/network_checker.h"

namespace {

using tovik::BatchPath;
using tovik::Coordinate;
using tovik::OrbCoorTransform;

using SingleTransform = Coordinate (*)(Coordinate);
using BatchTransform = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, BatchPath);

Coordinate fromC(tk_coordinate c) { return {.latitude = c.latitude, .longitude = c.longitude}; }

tk_coordinate toC(Coordinate c) { return {.latitude = c.latitude, .longitude = c.longitude}; }

tk_coordinate single(SingleTransform transform, tk_coordinate point) { return toC(transform(fromC(point))); }

/// Converts through a fixed buffer, a chunk at a time: the C and C++ coordinate types are
/// distinct, so the points are copied rather than reinterpreted, and nothing is allocated.
template <class Transform>
tk_status batch(Transform transform, const tk_coordinate* in, tk_coordinate* out, std::size_t count) {
  if (count == 0) {
    return TK_OK;
  }
  if (in == nullptr || out == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  return tovik::capi::guardedStatus([&] {
    constexpr std::size_t kChunk = 512;
    std::array<Coordinate, kChunk> buffer;
    for (std::size_t start = 0; start < count; start += kChunk) {
      const std::size_t n = std::min(kChunk, count - start);
      std::transform(in + start, in + start + n, buffer.begin(), fromC);
      const std::span<Coordinate> chunk(buffer.data(), n);
      transform(chunk, chunk, BatchPath::automatic);
      std::transform(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), out + start, toC);
    }
    return TK_OK;
  });
}

/// The region a C caller names, or nothing for any other value.
std::optional<tovik::Region> regionFromC(std::int32_t region) {
  switch (region) {
    case TK_REGION_RECTANGLE:
      return tovik::Region::rectangle;
    case TK_REGION_PRECISE:
      return tovik::Region::precise;
    default:
      return std::nullopt;
  }
}

using RegionSingle = Coordinate (*)(Coordinate, tovik::Region);
using RegionBatch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, tovik::Region, BatchPath);

tk_coordinate singleIn(RegionSingle transform, tk_coordinate point, std::int32_t region) {
  return toC(transform(fromC(point), regionFromC(region).value_or(tovik::Region::rectangle)));
}

tk_status batchIn(RegionBatch transform, const tk_coordinate* in, tk_coordinate* out, std::size_t count,
                  std::int32_t region) {
  const std::optional<tovik::Region> chosen = regionFromC(region);
  if (!chosen) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  return batch(
      [transform, chosen](std::span<const Coordinate> i, std::span<Coordinate> o, BatchPath path) {
        return transform(i, o, *chosen, path);
      },
      in, out, count);
}

// The batch overloads, picked out of each overload set.
constexpr BatchTransform kWgsToGcj = &OrbCoorTransform::transformFromWGSToGCJ;
constexpr BatchTransform kGcjToWgs = &OrbCoorTransform::transformFromGCJToWGS;
constexpr BatchTransform kGcjToBaidu = &OrbCoorTransform::transformFromGCJToBaidu;
constexpr BatchTransform kBaiduToGcj = &OrbCoorTransform::transformFromBaiduToGCJ;
constexpr BatchTransform kWgsToBaidu = &OrbCoorTransform::transformFromWGSToBaidu;
constexpr BatchTransform kBaiduToWgs = &OrbCoorTransform::transformFromBaiduToWGS;

constexpr SingleTransform kWgsToGcjOne = &OrbCoorTransform::transformFromWGSToGCJ;
constexpr SingleTransform kGcjToWgsOne = &OrbCoorTransform::transformFromGCJToWGS;
constexpr SingleTransform kGcjToBaiduOne = &OrbCoorTransform::transformFromGCJToBaidu;
constexpr SingleTransform kBaiduToGcjOne = &OrbCoorTransform::transformFromBaiduToGCJ;
constexpr SingleTransform kWgsToBaiduOne = &OrbCoorTransform::transformFromWGSToBaidu;
constexpr SingleTransform kBaiduToWgsOne = &OrbCoorTransform::transformFromBaiduToWGS;

}  // namespace

extern "C" {

tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ(tk_coordinate wgs) { return single(kWgsToGcjOne, wgs); }

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS(tk_coordinate gcj) { return single(kGcjToWgsOne, gcj); }

tk_coordinate tk_orb_coor_transform_transformFromGCJToBaidu(tk_coordinate gcj) {
  return single(kGcjToBaiduOne, gcj);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToGCJ(tk_coordinate bd) { return single(kBaiduToGcjOne, bd); }

tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu(tk_coordinate wgs) {
  return single(kWgsToBaiduOne, wgs);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS(tk_coordinate bd) { return single(kBaiduToWgsOne, bd); }

double tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(double lat1, double lat2, double lng1,
                                                                    double lng2) {
  return OrbCoorTransform::distanceByPoint(lat1, lat2, lng1, lng2);
}

double tk_orb_coor_transform_distanceByPointWithPoint1_point2(tk_coordinate point1, tk_coordinate point2) {
  return OrbCoorTransform::distanceByPoint(fromC(point1), fromC(point2));
}

tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                            size_t count) {
  return batch(kWgsToGcj, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                            size_t count) {
  return batch(kGcjToWgs, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromGCJToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kGcjToBaidu, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromBaiduToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kBaiduToGcj, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kWgsToBaidu, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kBaiduToWgs, in, out, count);
}

bool tk_orb_coor_transform_contains(tk_coordinate wgs, int32_t region) {
  return OrbCoorTransform::contains(fromC(wgs), regionFromC(region).value_or(tovik::Region::rectangle));
}

tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ_inRegion(tk_coordinate wgs, int32_t region) {
  return singleIn(&OrbCoorTransform::transformFromWGSToGCJ, wgs, region);
}

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS_inRegion(tk_coordinate gcj, int32_t region) {
  return singleIn(&OrbCoorTransform::transformFromGCJToWGS, gcj, region);
}

tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu_inRegion(tk_coordinate wgs, int32_t region) {
  return singleIn(&OrbCoorTransform::transformFromWGSToBaidu, wgs, region);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS_inRegion(tk_coordinate bd, int32_t region) {
  return singleIn(&OrbCoorTransform::transformFromBaiduToWGS, bd, region);
}

tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count, int32_t region) {
  return batchIn(&OrbCoorTransform::transformFromWGSToGCJ, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count, int32_t region) {
  return batchIn(&OrbCoorTransform::transformFromGCJToWGS, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                       size_t count, int32_t region) {
  return batchIn(&OrbCoorTransform::transformFromWGSToBaidu, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                       size_t count, int32_t region) {
  return batchIn(&OrbCoorTransform::transformFromBaiduToWGS, in, out, count, region);
}

const char* tk_version_sdkVersion(void) {
  return tovik::capi::guarded("0.0.0", [] { return tovik::TkVersion::sdkVersion().c_str(); });
}

const char* tk_version_buildNumber(void) {
  return tovik::capi::guarded("0", [] { return tovik::TkVersion::buildNumber().c_str(); });
}

bool tk_network_checker_isNetworkAvailable(void) {
  return tovik::capi::guarded(false, [] { return tovik::NetworkChecker::isNetworkAvailable(); });
}

}  // extern "C"
