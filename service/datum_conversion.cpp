#include "service/datum_conversion.h"

#include "tovik/coord/orb_coor_transform.h"

namespace tovik::service {

Coordinate DatumConversion::toWGS(const Coordinate& coordinate, Datum from) {
  switch (from) {
    case Datum::gcj02:
      return OrbCoorTransform::transformFromGCJToWGS(coordinate);
    case Datum::bd09:
      return OrbCoorTransform::transformFromBaiduToWGS(coordinate);
    case Datum::wgs84:
      break;
  }
  return coordinate;
}

Coordinate DatumConversion::fromWGS(const Coordinate& wgs, Datum to) {
  switch (to) {
    case Datum::gcj02:
      return OrbCoorTransform::transformFromWGSToGCJ(wgs);
    case Datum::bd09:
      return OrbCoorTransform::transformFromWGSToBaidu(wgs);
    case Datum::wgs84:
      break;
  }
  return wgs;
}

}  // namespace tovik::service
