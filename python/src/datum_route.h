#pragma once

#include <span>

#include <tovik/tovik.h>

namespace tovik::python {

/// The three datums in the order the package numbers them.
enum class DatumId { wgs84, gcj02, bd09 };

/// The kit's transform from one datum to another, chosen once: the single-point operation and
/// its batch form (the same datum: an unchanged copy). Conversions to WGS-84 take the search or
/// the precise inverse; GCJ-02 ↔ BD-09 has no region.
class DatumRoute {
 public:
  DatumRoute(DatumId from, DatumId to, Region region, bool preciseInverse);

  Coordinate convert(Coordinate point) const;
  /// out[i] = convert(in[i]) by the kit's batch operation (BatchPath::automatic); same sizes,
  /// `in` and `out` the same span or apart.
  void convert(std::span<const Coordinate> in, std::span<Coordinate> out) const;

 private:
  enum class Step { same, wgsToGcj, gcjToWgs, gcjToBd, bdToGcj, wgsToBd, bdToWgs };
  Step step_;
  Region region_;
  bool precise_;
};

}  // namespace tovik::python
