#pragma once

#include "tovik/coord/datum_constants.h"
#include "tovik/coord/region.h"

namespace tovik {

/// The precise China region (Region::precise) as a point test.
///
/// A grid of cells of 0.2304° × 0.2161° over China and its coastal waters answers most points
/// from two bits: wholly inside, wholly outside, or border cell. A border cell holds a mask of
/// its 64 sea-band sub-cells and the land boundary's edges that meet it; a point there is inside
/// when its sub-cell is in the sea band, or when the segment from the cell's reference point
/// (whose side is known) to the point crosses an odd number of those edges. Everything is
/// computed in the boundary data's quantised frame, where vertices are small integers and the
/// reference points half-integers, so the tests on them are exact in double arithmetic.
/// Internal: the application uses OrbCoorTransform::contains.
class ChinaRegion {
 public:
  /// True inside the region; false outside it and for non-finite coordinates.
  static bool contains(double latitude, double longitude);
};

/// True where `region` leaves a WGS-84 point unchanged.
inline bool isOutside(Region region, double latitude, double longitude) {
  return region == Region::rectangle ? DatumConstants::isOutOfRegion(latitude, longitude)
                                     : !ChinaRegion::contains(latitude, longitude);
}

}  // namespace tovik
