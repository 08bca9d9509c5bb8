#pragma once

#include "tovik/system/location.h"
#include "tovik/tovik_c.h"

namespace tovik::capi {

/// A C fix as the kit's `Location` (the time stamp in milliseconds becomes a time point).
Location toLocation(const tk_location& fix);
/// The kit's `Location` as a C fix (milliseconds since the epoch).
tk_location toCLocation(const Location& location);

}  // namespace tovik::capi
