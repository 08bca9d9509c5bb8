#include "tovik/coord/datum.h"

#include <algorithm>

#include "tovik/coord/orb_coor_transform.h"

namespace tovik {

namespace {

bool equalsIgnoringAsciiCase(std::string_view text, std::string_view lower) {
  return std::ranges::equal(text, lower, [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

}  // namespace

std::optional<Datum> datumNamed(std::string_view name) {
  if (equalsIgnoringAsciiCase(name, "wgs84")) return Datum::wgs84;
  if (equalsIgnoringAsciiCase(name, "gcj02")) return Datum::gcj02;
  if (equalsIgnoringAsciiCase(name, "bd09")) return Datum::bd09;
  return std::nullopt;
}

Coordinate convertDatum(Coordinate point, Datum from, Datum to, Region region) {
  using T = OrbCoorTransform;
  switch (from) {
    case Datum::wgs84:
      if (to == Datum::gcj02) return T::transformFromWGSToGCJ(point, region);
      if (to == Datum::bd09) return T::transformFromWGSToBaidu(point, region);
      break;
    case Datum::gcj02:
      if (to == Datum::wgs84) return T::transformFromGCJToWGS(point, region);
      if (to == Datum::bd09) return T::transformFromGCJToBaidu(point);
      break;
    case Datum::bd09:
      if (to == Datum::wgs84) return T::transformFromBaiduToWGS(point, region);
      if (to == Datum::gcj02) return T::transformFromBaiduToGCJ(point);
      break;
  }
  return point;
}

bool convertDatum(std::span<const Coordinate> in, std::span<Coordinate> out, Datum from, Datum to, Region region,
                  BatchPath path) {
  using T = OrbCoorTransform;
  switch (from) {
    case Datum::wgs84:
      if (to == Datum::gcj02) return T::transformFromWGSToGCJ(in, out, region, path);
      if (to == Datum::bd09) return T::transformFromWGSToBaidu(in, out, region, path);
      break;
    case Datum::gcj02:
      if (to == Datum::wgs84) return T::transformFromGCJToWGS(in, out, region, path);
      if (to == Datum::bd09) return T::transformFromGCJToBaidu(in, out, path);
      break;
    case Datum::bd09:
      if (to == Datum::wgs84) return T::transformFromBaiduToWGS(in, out, region, path);
      if (to == Datum::gcj02) return T::transformFromBaiduToGCJ(in, out, path);
      break;
  }
  if (in.size() != out.size()) {
    return false;
  }
  if (in.data() != out.data()) {
    std::ranges::copy(in, out.begin());
  }
  return true;
}

}  // namespace tovik
