#include "datum_route.h"

#include <algorithm>

namespace tovik::python {

namespace {

using T = OrbCoorTransform;

}  // namespace

DatumRoute::DatumRoute(DatumId from, DatumId to, Region region, bool preciseInverse)
    : step_(Step::same), region_(region), precise_(preciseInverse) {
  // Rows: from; columns: to.
  constexpr Step kSteps[3][3] = {{Step::same, Step::wgsToGcj, Step::wgsToBd},
                                 {Step::gcjToWgs, Step::same, Step::gcjToBd},
                                 {Step::bdToWgs, Step::bdToGcj, Step::same}};
  step_ = kSteps[static_cast<int>(from)][static_cast<int>(to)];
}

Coordinate DatumRoute::convert(Coordinate p) const {
  switch (step_) {
    case Step::same:
      return p;
    case Step::wgsToGcj:
      return T::transformFromWGSToGCJ(p, region_);
    case Step::gcjToWgs:
      return precise_ ? T::transformFromGCJToWGSPrecise(p, region_) : T::transformFromGCJToWGS(p, region_);
    case Step::gcjToBd:
      return T::transformFromGCJToBaidu(p);
    case Step::bdToGcj:
      return T::transformFromBaiduToGCJ(p);
    case Step::wgsToBd:
      return T::transformFromWGSToBaidu(p, region_);
    case Step::bdToWgs:
      return precise_ ? T::transformFromBaiduToWGSPrecise(p, region_) : T::transformFromBaiduToWGS(p, region_);
  }
  return p;
}

void DatumRoute::convert(std::span<const Coordinate> in, std::span<Coordinate> out) const {
  switch (step_) {
    case Step::same:
      if (in.data() != out.data()) std::ranges::copy(in, out.begin());
      return;
    case Step::wgsToGcj:
      T::transformFromWGSToGCJ(in, out, region_);
      return;
    case Step::gcjToWgs:
      precise_ ? T::transformFromGCJToWGSPrecise(in, out, region_) : T::transformFromGCJToWGS(in, out, region_);
      return;
    case Step::gcjToBd:
      T::transformFromGCJToBaidu(in, out);
      return;
    case Step::bdToGcj:
      T::transformFromBaiduToGCJ(in, out);
      return;
    case Step::wgsToBd:
      T::transformFromWGSToBaidu(in, out, region_);
      return;
    case Step::bdToWgs:
      precise_ ? T::transformFromBaiduToWGSPrecise(in, out, region_) : T::transformFromBaiduToWGS(in, out, region_);
      return;
  }
}

}  // namespace tovik::python
