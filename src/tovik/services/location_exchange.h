#pragma once

#include <memory>

#include "tovik/model/location_res.h"
#include "tovik/system/location.h"
#include "tovik/services/service_caller.h"

namespace tovik {

/// The two calls answered by one `LocationRes` from the track-point endpoint: the
/// fused-location call (a fix with the device that reports it) and reverse geocoding (a
/// bare GCJ-02 coordinate). Both hold their caller weakly while in flight; only status 200
/// counts as a result, any other success status reaches the recipient as an error message
/// holding the status.
class LocationExchange {
 public:
  using Answer = std::shared_ptr<LocationRes>;
  static void getTrackLocation(const ServiceCaller& caller, const Location& fix, Recipient<Answer> recipient);
  static void getReverseCode(const ServiceCaller& caller, double latitude, double longitude,
                             Recipient<Answer> recipient);
};

}  // namespace tovik
