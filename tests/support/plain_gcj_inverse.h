#pragma once

// The GCJ-02 inverse search written the plain way: the bisection with four forward
// transforms per step, and the mend of a search that ran out of steps off target. The
// yardstick of the kit's search: the tests hold it to this bit for bit, the benchmarks
// time it against this.

#include <algorithm>
#include <cmath>

#include "tovik/system/location.h"

namespace tovik::test {

struct PlainInverse {
  Coordinate point;       // the answer
  Coordinate bisection;   // the bisection's point, before any mend
};

/// The WGS-84 point whose image under `forward` is `target`.
template <class Forward>
PlainInverse plainGcjInverse(Coordinate target, const Forward& forward) {
  const auto miss = [&](Coordinate wgs) {
    const Coordinate image = forward(wgs);
    return std::fabs(image.latitude - target.latitude) + std::fabs(image.longitude - target.longitude);
  };
  // A search that ran out of steps kept a wrong quadrant when its point misses the target:
  // up to 8 steps w <- w - (f(w) - target) from the target while they get closer, the result
  // only if it is closer than the bisection's point.
  const auto mend = [&](Coordinate found) {
    const double missed = miss(found);
    if (!(missed > 0.00001)) {
      return found;
    }
    Coordinate w = target;
    double off = miss(w);
    for (int i = 0; i < 8 && off > 0.00001; ++i) {
      const Coordinate image = forward(w);
      const Coordinate next{w.latitude - (image.latitude - target.latitude),
                            w.longitude - (image.longitude - target.longitude)};
      if (!(miss(next) < off)) {
        break;
      }
      w = next;
      off = miss(w);
    }
    return off < missed ? w : found;
  };

  const double lat = target.latitude;
  const double lon = target.longitude;
  double minLon = lon - 0.5, minLat = lat - 0.5, maxLon = lon + 0.5, maxLat = lat + 0.5;
  for (int n = 31;;) {
    const Coordinate fll = forward(Coordinate{minLat, minLon});
    const Coordinate flr = forward(Coordinate{minLat, maxLon});
    const Coordinate ful = forward(Coordinate{maxLat, minLon});
    const double ctrLon = (maxLon + minLon) * 0.5;
    const double ctrLat = (maxLat + minLat) * 0.5;
    const Coordinate d = forward(Coordinate{ctrLat, ctrLon});
    if (std::fabs(d.latitude - lat) + std::fabs(d.longitude - lon) <= 0.00001) {
      return {{ctrLat, ctrLon}, {ctrLat, ctrLon}};
    }
    const auto holds = [&](Coordinate p) {
      return std::min(d.latitude, p.latitude) <= lat && lat <= std::max(d.latitude, p.latitude) &&
             std::min(d.longitude, p.longitude) <= lon && lon <= std::max(d.longitude, p.longitude);
    };
    if (holds(fll)) {
      maxLon = ctrLon, maxLat = ctrLat;
    } else if (holds(flr)) {
      minLon = ctrLon, maxLat = ctrLat;
    } else if (holds(ful)) {
      minLat = ctrLat, maxLon = ctrLon;
    } else {
      minLon = ctrLon, minLat = ctrLat;
    }
    if (--n <= 1) {
      const Coordinate last{(maxLat + minLat) * 0.5, (maxLon + minLon) * 0.5};
      return {mend(last), last};
    }
  }
}

}  // namespace tovik::test
