// The facade's five service calls; the services folder does the work.
#include "tovik/client/tk_client_location.h"
#include "tovik/services/location_exchange.h"
#include "tovik/services/scenario_search.h"

namespace tovik {

void TkClientLocation::getTrackLocation(const Location& location) {
  LocationExchange::getTrackLocation(*this, location);
}

void TkClientLocation::getReverseCode(double latitude, double longitude) {
  LocationExchange::getReverseCode(*this, latitude, longitude);
}

void TkClientLocation::getGeocCode(const std::string& address, const std::string& city) {
  ScenarioSearch::getGeocCode(*this, address, city);
}

void TkClientLocation::poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                                    std::int32_t page_index, std::int32_t page_size) {
  ScenarioSearch::poiKeySearch(*this, name, city_code, city, page_index, page_size);
}

void TkClientLocation::poiNearbySearch(const std::string& keywords, const std::string& location, std::int32_t radius,
                                       const std::string& category, const std::string& orderby,
                                       std::int32_t page_index, std::int32_t page_size) {
  ScenarioSearch::poiNearbySearch(*this, keywords, location, radius, category, orderby, page_index, page_size);
}

}  // namespace tovik
