#pragma once

#include "server/parsed_requests.h"
#include "tovik/providers/location.h"

namespace tovik::server {

/// Moves a coordinate between WGS-84 and the other datums with the kit's own transforms.
class DatumConversion {
 public:
  static Coordinate toWGS(const Coordinate& coordinate, Datum from);
  static Coordinate fromWGS(const Coordinate& wgs, Datum to);
};

}  // namespace tovik::server
