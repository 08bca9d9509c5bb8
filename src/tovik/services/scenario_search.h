#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tovik/model/geocode_res.h"
#include "tovik/services/service_caller.h"

namespace tovik {

/// The three GET calls answered by a list of `GeocodeRes`: forward geocoding within a city
/// (access key, caller held weakly) and keyword and nearby place search (POI key, caller
/// held until the outcome has been delivered). Texts travel unchanged, integers as decimal
/// text; every query item is sent, empty or not.
class ScenarioSearch {
 public:
  using Answer = std::vector<std::shared_ptr<GeocodeRes>>;
  static void getGeocCode(const ServiceCaller& caller, const std::string& address, const std::string& city,
                          Recipient<Answer> recipient);
  static void poiKeySearch(const ServiceCaller& caller, const std::string& name, const std::string& city_code,
                           const std::string& city, std::int32_t page_index, std::int32_t page_size,
                           Recipient<Answer> recipient);
  static void poiNearbySearch(const ServiceCaller& caller, const std::string& keywords, const std::string& location,
                              std::int32_t radius, const std::string& category, const std::string& orderby,
                              std::int32_t page_index, std::int32_t page_size, Recipient<Answer> recipient);
};

}  // namespace tovik
