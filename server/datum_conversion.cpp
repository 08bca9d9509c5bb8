#include "server/datum_conversion.h"

namespace tovik::server {

Coordinate DatumConversion::toWGS(const Coordinate& coordinate, Datum from) {
  return convertDatum(coordinate, from, Datum::wgs84);
}

Coordinate DatumConversion::fromWGS(const Coordinate& wgs, Datum to) { return convertDatum(wgs, Datum::wgs84, to); }

}  // namespace tovik::server
