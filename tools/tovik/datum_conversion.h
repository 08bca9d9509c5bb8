#pragma once

#include <span>
#include <string_view>

#include "tovik/coord/datum.h"
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
  DatumConversion(Datum from, Datum to, Region region = Region::rectangle) : from_(from), to_(to), region_(region) {}

  Coordinate convert(Coordinate point) const { return convertDatum(point, from_, to_, region_); }
  /// `out[i]` = `convert(in[i])` by the kit's batch operation; same sizes.
  void convert(std::span<const Coordinate> in, std::span<Coordinate> out) const {
    convertDatum(in, out, from_, to_, region_);
  }

 private:
  Datum from_;
  Datum to_;
  Region region_;
};

}  // namespace tovik::cli
