#pragma once

#include <memory>

#include "tovik/system/export.h"

namespace tovik {

/// A coordinate pair in degrees, stored as given (no range check, no datum conversion).
/// JSON: {"longitude": number, "latitude": number}.
class TOVIK_API TkPoint {
 public:
  TkPoint() = default;
  TkPoint(double longitude, double latitude) : longitude(longitude), latitude(latitude) {}

  static std::shared_ptr<TkPoint> create(double longitude, double latitude);

  double longitude = 0.0;  ///< degrees, east positive
  double latitude = 0.0;   ///< degrees, north positive
};

}  // namespace tovik
