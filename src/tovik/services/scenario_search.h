#pragma once

#include <cstdint>
#include <string>

#include "tovik/client/tk_client_location.h"

namespace tovik {

/// The three GET calls answered by a list of `GeocodeRes`: forward geocoding within a city
/// (access key, facade held weakly) and keyword and nearby place search (POI key, facade
/// held until the outcome has been delivered). Texts travel unchanged, integers as decimal
/// text; every query item is sent, empty or not.
class ScenarioSearch {
 public:
  static void getGeocCode(TkClientLocation& facade, const std::string& address, const std::string& city);
  static void poiKeySearch(TkClientLocation& facade, const std::string& name, const std::string& city_code,
                           const std::string& city, std::int32_t page_index, std::int32_t page_size);
  static void poiNearbySearch(TkClientLocation& facade, const std::string& keywords, const std::string& location,
                              std::int32_t radius, const std::string& category, const std::string& orderby,
                              std::int32_t page_index, std::int32_t page_size);
};

}  // namespace tovik
