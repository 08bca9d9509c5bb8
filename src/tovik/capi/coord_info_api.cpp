// Coordinate transforms, the version and the network check for C callers: stateless,
// callable from any thread.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "tovik/capi/c_boundary.h"
#include "tovik/coord/datum.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/info/tk_version.h"
#include "tovik/network/network_checker.h"

namespace {

using tovik::BatchPath;
using tovik::Coordinate;
using tovik::Datum;
using tovik::OrbCoorTransform;
using tovik::Region;

Coordinate fromC(tk_coordinate c) { return {.latitude = c.latitude, .longitude = c.longitude}; }

tk_coordinate toC(Coordinate c) { return {.latitude = c.latitude, .longitude = c.longitude}; }

/// The region a C caller names, or nothing for any other value.
std::optional<Region> regionFromC(std::int32_t region) {
  switch (region) {
    case TK_REGION_RECTANGLE:
      return Region::rectangle;
    case TK_REGION_PRECISE:
      return Region::precise;
    default:
      return std::nullopt;
  }
}

tk_coordinate single(Datum from, Datum to, tk_coordinate point, Region region = Region::rectangle) {
  return toC(tovik::convertDatum(fromC(point), from, to, region));
}

/// An unknown region converts in the rectangle, as the transforms without a region do.
tk_coordinate singleIn(Datum from, Datum to, tk_coordinate point, std::int32_t region) {
  return single(from, to, point, regionFromC(region).value_or(Region::rectangle));
}

using PreciseBatch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>, Region, BatchPath);

/// Whether two arrays of `count` points share memory without being the same array.
bool partlyOverlap(const tk_coordinate* in, const tk_coordinate* out, std::size_t count) {
  const auto a = reinterpret_cast<std::uintptr_t>(in);
  const auto b = reinterpret_cast<std::uintptr_t>(out);
  const std::uintptr_t bytes = count * sizeof(tk_coordinate);
  return a != b && a < b + bytes && b < a + bytes;
}

/// Runs `run` over C points through a fixed buffer, a chunk at a time: the C and C++ coordinate
/// types are distinct, so the points are copied rather than reinterpreted, and nothing is allocated.
template <class Run>
tk_status chunked(const tk_coordinate* in, tk_coordinate* out, std::size_t count, Run run) {
  if (count == 0) {
    return TK_OK;
  }
  if (in == nullptr || out == nullptr) {
    return TK_ERROR_NULL_ARGUMENT;
  }
  if (partlyOverlap(in, out, count)) {
    return TK_ERROR_INVALID_ARGUMENT;  // a later chunk would read points an earlier one wrote
  }
  return tovik::capi::guardedStatus([&] {
    constexpr std::size_t kChunk = 512;
    std::array<Coordinate, kChunk> buffer;
    for (std::size_t start = 0; start < count; start += kChunk) {
      const std::size_t n = std::min(kChunk, count - start);
      std::transform(in + start, in + start + n, buffer.begin(), fromC);
      const std::span<Coordinate> chunk(buffer.data(), n);
      run(chunk);
      std::transform(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), out + start, toC);
    }
    return TK_OK;
  });
}

tk_status preciseBatch(PreciseBatch inverse, const tk_coordinate* in, tk_coordinate* out, std::size_t count,
                       std::optional<Region> region) {
  if (!region) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  return chunked(in, out, count, [&](std::span<Coordinate> chunk) { inverse(chunk, chunk, *region, BatchPath::automatic); });
}

/// A track's length; a NULL array counts as no points.
template <class Length>
double track(const tk_coordinate* points, std::size_t count, Length length) {
  if (points == nullptr || count < 2) {
    return 0.0;
  }
  return tovik::capi::guarded(0.0, [&] {
    double total = 0.0;
    for (std::size_t i = 1; i < count; ++i) {
      total += length(fromC(points[i - 1]), fromC(points[i]));
    }
    return total;
  });
}

tk_status batch(Datum from, Datum to, const tk_coordinate* in, tk_coordinate* out, std::size_t count,
                Region region = Region::rectangle) {
  return chunked(in, out, count, [&](std::span<Coordinate> chunk) {
    tovik::convertDatum(chunk, chunk, from, to, region, BatchPath::automatic);
  });
}

tk_status batchIn(Datum from, Datum to, const tk_coordinate* in, tk_coordinate* out, std::size_t count,
                  std::int32_t region) {
  const std::optional<Region> chosen = regionFromC(region);
  if (!chosen) {
    return TK_ERROR_INVALID_ARGUMENT;
  }
  return batch(from, to, in, out, count, *chosen);
}

constexpr Datum kWgs = Datum::wgs84;
constexpr Datum kGcj = Datum::gcj02;
constexpr Datum kBd = Datum::bd09;

}  // namespace

extern "C" {

tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ(tk_coordinate wgs) { return single(kWgs, kGcj, wgs); }

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS(tk_coordinate gcj) { return single(kGcj, kWgs, gcj); }

tk_coordinate tk_orb_coor_transform_transformFromGCJToBaidu(tk_coordinate gcj) {
  return single(kGcj, kBd, gcj);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToGCJ(tk_coordinate bd) { return single(kBd, kGcj, bd); }

tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu(tk_coordinate wgs) {
  return single(kWgs, kBd, wgs);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS(tk_coordinate bd) { return single(kBd, kWgs, bd); }

double tk_orb_coor_transform_distanceByPointWithLat1_lat2_lng1_lng2(double lat1, double lat2, double lng1,
                                                                    double lng2) {
  return OrbCoorTransform::distanceByPoint(lat1, lat2, lng1, lng2);
}

double tk_orb_coor_transform_distanceByPointWithPoint1_point2(tk_coordinate point1, tk_coordinate point2) {
  return OrbCoorTransform::distanceByPoint(fromC(point1), fromC(point2));
}

tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                            size_t count) {
  return batch(kWgs, kGcj, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                            size_t count) {
  return batch(kGcj, kWgs, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromGCJToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kGcj, kBd, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromBaiduToGCJ_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kBd, kGcj, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kWgs, kBd, in, out, count);
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch(const tk_coordinate* in, tk_coordinate* out,
                                                              size_t count) {
  return batch(kBd, kWgs, in, out, count);
}

bool tk_orb_coor_transform_contains(tk_coordinate wgs, int32_t region) {
  return OrbCoorTransform::contains(fromC(wgs), regionFromC(region).value_or(Region::rectangle));
}

tk_coordinate tk_orb_coor_transform_transformFromWGSToGCJ_inRegion(tk_coordinate wgs, int32_t region) {
  return singleIn(kWgs, kGcj, wgs, region);
}

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGS_inRegion(tk_coordinate gcj, int32_t region) {
  return singleIn(kGcj, kWgs, gcj, region);
}

tk_coordinate tk_orb_coor_transform_transformFromWGSToBaidu_inRegion(tk_coordinate wgs, int32_t region) {
  return singleIn(kWgs, kBd, wgs, region);
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGS_inRegion(tk_coordinate bd, int32_t region) {
  return singleIn(kBd, kWgs, bd, region);
}

tk_status tk_orb_coor_transform_transformFromWGSToGCJ_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count, int32_t region) {
  return batchIn(kWgs, kGcj, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromGCJToWGS_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count, int32_t region) {
  return batchIn(kGcj, kWgs, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromWGSToBaidu_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                       size_t count, int32_t region) {
  return batchIn(kWgs, kBd, in, out, count, region);
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGS_batch_inRegion(const tk_coordinate* in, tk_coordinate* out,
                                                                       size_t count, int32_t region) {
  return batchIn(kBd, kWgs, in, out, count, region);
}

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGSPrecise(tk_coordinate gcj) {
  return toC(OrbCoorTransform::transformFromGCJToWGSPrecise(fromC(gcj)));
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGSPrecise(tk_coordinate bd) {
  return toC(OrbCoorTransform::transformFromBaiduToWGSPrecise(fromC(bd)));
}

tk_coordinate tk_orb_coor_transform_transformFromGCJToWGSPrecise_inRegion(tk_coordinate gcj, int32_t region) {
  return toC(OrbCoorTransform::transformFromGCJToWGSPrecise(fromC(gcj), regionFromC(region).value_or(Region::rectangle)));
}

tk_coordinate tk_orb_coor_transform_transformFromBaiduToWGSPrecise_inRegion(tk_coordinate bd, int32_t region) {
  return toC(
      OrbCoorTransform::transformFromBaiduToWGSPrecise(fromC(bd), regionFromC(region).value_or(Region::rectangle)));
}

tk_status tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                   size_t count) {
  return preciseBatch(OrbCoorTransform::transformFromGCJToWGSPrecise, in, out, count, Region::rectangle);
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGSPrecise_batch(const tk_coordinate* in, tk_coordinate* out,
                                                                     size_t count) {
  return preciseBatch(OrbCoorTransform::transformFromBaiduToWGSPrecise, in, out, count, Region::rectangle);
}

tk_status tk_orb_coor_transform_transformFromGCJToWGSPrecise_batch_inRegion(const tk_coordinate* in,
                                                                            tk_coordinate* out, size_t count,
                                                                            int32_t region) {
  return preciseBatch(OrbCoorTransform::transformFromGCJToWGSPrecise, in, out, count, regionFromC(region));
}

tk_status tk_orb_coor_transform_transformFromBaiduToWGSPrecise_batch_inRegion(const tk_coordinate* in,
                                                                              tk_coordinate* out, size_t count,
                                                                              int32_t region) {
  return preciseBatch(OrbCoorTransform::transformFromBaiduToWGSPrecise, in, out, count, regionFromC(region));
}

double tk_orb_coor_transform_geodesicDistance(tk_coordinate point1, tk_coordinate point2) {
  return tovik::capi::guarded(0.0, [&] { return OrbCoorTransform::geodesicDistance(fromC(point1), fromC(point2)); });
}

double tk_orb_coor_transform_trackLength(const tk_coordinate* points, size_t count) {
  return track(points, count, [](Coordinate a, Coordinate b) { return OrbCoorTransform::distanceByPoint(a, b); });
}

double tk_orb_coor_transform_geodesicTrackLength(const tk_coordinate* points, size_t count) {
  return track(points, count, OrbCoorTransform::geodesicDistance);
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
