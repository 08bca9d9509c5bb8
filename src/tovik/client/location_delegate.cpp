#include "tovik/client/location_delegate.h"

namespace tovik {

// Optional members: a delegate that does not override them drops these results.
void LocationDelegate::onReceivedReverseCodeWithTkLocation(const std::shared_ptr<LocationRes>&) {}
void LocationDelegate::onReceivedGeocodeWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) {}
void LocationDelegate::onReceivedPoiSearchWithResult(const std::vector<std::shared_ptr<GeocodeRes>>&) {}

void LocationDelegate::onReceivedRawLocation(const Location&) {}
void LocationDelegate::onLocationErrorWithError(const TkError&) {}
void LocationDelegate::onLocationAvailabilityChanged(const LocationAvailability&) {}

}  // namespace tovik
