#pragma once

#include <memory>

#include "tovik/client/tk_client_location.h"
#include "tovik/platform/location.h"

namespace tovik {

/// The two calls answered by one `LocationRes` from the track-point endpoint: the
/// fused-location call (a fix with the device that reports it) and reverse geocoding (a
/// bare GCJ-02 coordinate). Both hold the facade weakly while in flight; only status 200
/// counts as a result, any other success status reaches the delegate as an error message
/// holding the status.
class LocationExchange {
 public:
  static void getTrackLocation(TkClientLocation& facade, const Location& fix);
  static void getReverseCode(TkClientLocation& facade, double latitude, double longitude);
};

}  // namespace tovik
