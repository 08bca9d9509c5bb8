#include "tools/tovik/datum_conversion.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "tools/tovik/usage_error.h"
#include "tovik/coord/orb_coor_transform.h"

namespace tovik::cli {

std::optional<Datum> datumNamed(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "wgs84") return Datum::wgs84;
  if (lower == "gcj02") return Datum::gcj02;
  if (lower == "bd09") return Datum::bd09;
  return std::nullopt;
}

Datum datumArgument(std::string_view argument, std::string_view text) {
  if (const auto datum = datumNamed(text)) {
    return *datum;
  }
  throw UsageError(std::string(argument) + ": unknown datum '" + std::string(text) + "' (use wgs84, gcj02 or bd09)");
}

Coordinate DatumConversion::convert(Coordinate point) const {
  using T = OrbCoorTransform;
  switch (from_) {
    case Datum::wgs84:
      if (to_ == Datum::gcj02) return T::transformFromWGSToGCJ(point, region_);
      if (to_ == Datum::bd09) return T::transformFromWGSToBaidu(point, region_);
      break;
    case Datum::gcj02:
      if (to_ == Datum::wgs84) return T::transformFromGCJToWGS(point, region_);
      if (to_ == Datum::bd09) return T::transformFromGCJToBaidu(point);
      break;
    case Datum::bd09:
      if (to_ == Datum::wgs84) return T::transformFromBaiduToWGS(point, region_);
      if (to_ == Datum::gcj02) return T::transformFromBaiduToGCJ(point);
      break;
  }
  return point;
}

void DatumConversion::convert(std::span<const Coordinate> in, std::span<Coordinate> out) const {
  using T = OrbCoorTransform;
  switch (from_) {
    case Datum::wgs84:
      if (to_ == Datum::gcj02) return void(T::transformFromWGSToGCJ(in, out, region_));
      if (to_ == Datum::bd09) return void(T::transformFromWGSToBaidu(in, out, region_));
      break;
    case Datum::gcj02:
      if (to_ == Datum::wgs84) return void(T::transformFromGCJToWGS(in, out, region_));
      if (to_ == Datum::bd09) return void(T::transformFromGCJToBaidu(in, out));
      break;
    case Datum::bd09:
      if (to_ == Datum::wgs84) return void(T::transformFromBaiduToWGS(in, out, region_));
      if (to_ == Datum::gcj02) return void(T::transformFromBaiduToGCJ(in, out));
      break;
  }
  std::copy_n(in.begin(), std::min(in.size(), out.size()), out.begin());
}

}  // namespace tovik::cli
