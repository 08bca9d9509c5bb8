#include "tovik/geofence/geofence_delegate.h"

namespace tovik {

void GeofenceDelegate::onGeofenceSourceError(const Error&) {}

}  // namespace tovik
