#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "tovik/coord/batch_path.h"
#include "tovik/coord/region.h"
#include "tovik/system/export.h"
#include "tovik/system/location.h"

namespace tovik {

/// The datums a coordinate may be written in: WGS-84, GCJ-02 and BD-09.
enum class Datum { wgs84 = 0, gcj02 = 1, bd09 = 2 };

/// The datum "wgs84", "gcj02" or "bd09" names, ASCII letters in any case; nothing otherwise.
TOVIK_API std::optional<Datum> datumNamed(std::string_view name);

/// `point`, written in `from`, written in `to` by OrbCoorTransform (the same datum: unchanged).
/// `region` is where WGS-84 and GCJ-02 differ; GCJ-02 ↔ BD-09 does not depend on it.
TOVIK_API Coordinate convertDatum(Coordinate point, Datum from, Datum to, Region region = Region::rectangle);

/// out[i] = convertDatum(in[i], from, to, region) by the batch transforms. `in` and `out` must
/// have the same size (otherwise nothing is written and the result is false); they may be the
/// same span but must not overlap otherwise.
TOVIK_API bool convertDatum(std::span<const Coordinate> in, std::span<Coordinate> out, Datum from, Datum to,
                            Region region = Region::rectangle, BatchPath path = BatchPath::automatic);

}  // namespace tovik
