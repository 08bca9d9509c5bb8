// The facade's five service calls. Placeholder bodies until the services land.
#include "tovik/client/tk_client_location.h"

namespace tovik {

void TkClientLocation::getTrackLocation(const Location&) {}
void TkClientLocation::getReverseCode(double, double) {}
void TkClientLocation::getGeocCode(const std::string&, const std::string&) {}
void TkClientLocation::poiKeySearch(const std::string&, const std::string&, const std::string&, std::int32_t,
                                    std::int32_t) {}
void TkClientLocation::poiNearbySearch(const std::string&, const std::string&, std::int32_t, const std::string&,
                                       const std::string&, std::int32_t, std::int32_t) {}

}  // namespace tovik
