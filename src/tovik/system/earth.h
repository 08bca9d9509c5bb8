#pragma once

namespace tovik {

/// Radius in metres of the sphere on which the kit measures every distance.
inline constexpr double kEarthRadius = 6371004.0;

}  // namespace tovik
