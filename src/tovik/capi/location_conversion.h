#pragma once

#include <chrono>
#include <cstdint>

#include "tovik/system/location.h"
#include "tovik/tovik_c.h"

namespace tovik::capi {

/// A C fix as the kit's `Location` (the time stamp in milliseconds becomes a time point).
Location toLocation(const tk_location& fix);
/// The kit's `Location` as a C fix.
tk_location toCLocation(const Location& location);
/// A time stamp as C gets it: milliseconds since the Unix epoch.
std::int64_t toMilliseconds(std::chrono::system_clock::time_point time);

}  // namespace tovik::capi
