#pragma once

#include <string_view>

#include "tools/tovik/kit_options.h"
#include "tools/tovik/point_lines.h"
#include "tovik/coord/datum.h"

namespace tovik::cli {

class Output;

/// `tovik reverse` without a point: reverse geocoding of every point of `input`, a few calls
/// in flight at once, each outcome printed in input order (a result line, or the line's
/// number and its error on standard error). A line that fails does not end the run; the exit
/// status is 1 when any did.
int reverseLines(std::string_view input, const PointLines& lines, Datum datum, const KitOptions& options,
                 Output& output);

}  // namespace tovik::cli
