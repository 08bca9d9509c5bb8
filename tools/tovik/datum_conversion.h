#pragma once

#include <span>
#include <string_view>

#include "tovik/coord/datum.h"
#include "tovik/coord/orb_coor_transform.h"
#include "tovik/coord/region.h"
#include "tovik/system/location.h"

namespace tovik::cli {

using tovik::Datum;

/// The datum named by the command-line argument `argument`; a `UsageError` naming the
/// argument when `text` names none.
Datum datumArgument(std::string_view argument, std::string_view text);

/// The kit's transform from one datum to another (the same datum: unchanged), for one
/// point and for a batch.
class DatumConversion {
 public:
  /// `region`: where WGS-84 and GCJ-02 differ (the rectangle unless asked otherwise).
  /// `preciseInverse`: to WGS-84 by the precise inverses instead of the search.
  DatumConversion(Datum from, Datum to, Region region = Region::rectangle, bool preciseInverse = false)
      : from_(from), to_(to), region_(region), precise_(preciseInverse && to == Datum::wgs84 && from != to) {}

  Coordinate convert(Coordinate point) const {
    if (precise_) {
      return from_ == Datum::gcj02 ? OrbCoorTransform::transformFromGCJToWGSPrecise(point, region_)
                                   : OrbCoorTransform::transformFromBaiduToWGSPrecise(point, region_);
    }
    return convertDatum(point, from_, to_, region_);
  }
  /// `out[i]` = `convert(in[i])` by the kit's batch operation; same sizes.
  void convert(std::span<const Coordinate> in, std::span<Coordinate> out) const {
    if (precise_) {
      from_ == Datum::gcj02 ? OrbCoorTransform::transformFromGCJToWGSPrecise(in, out, region_)
                            : OrbCoorTransform::transformFromBaiduToWGSPrecise(in, out, region_);
      return;
    }
    convertDatum(in, out, from_, to_, region_);
  }

 private:
  Datum from_;
  Datum to_;
  Region region_;
  bool precise_;
};

}  // namespace tovik::cli
